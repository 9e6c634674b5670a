#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "console/remote/QueueOperation.h"

namespace velmora::console {

// The only requests the privileged queue helper accepts, as its argument vector:
//   add QUEUE plain|duplex DESCRIPTION
//   rename QUEUE DESCRIPTION
//   ppd QUEUE plain|duplex
//   remove QUEUE
// QUEUE must have our form ("Velmora_" + a safe id); a description must be clean text of at
// most 127 bytes ending in " (Velmora)". The PPD is named by kind, never by path.
class QueueHelperRequest {
  public:
    static std::optional<QueueOperation> parse(std::span<const std::string> arguments,
                                               std::string& error);
    // The argument vector that parse() reads back into `operation`.
    static std::vector<std::string> arguments(const QueueOperation& operation);
};

}  // namespace velmora::console
