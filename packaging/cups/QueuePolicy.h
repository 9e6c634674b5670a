#pragma once

#include <optional>
#include <string>

namespace velmora::backend {

// The operation policy the scheduler applies to a queue. A job's user name is proven only under
// our policy: under any other (the scheduler's default, or ours lost from its configuration, in
// which case the scheduler falls back to the default) "lp -U alice" run by bob reaches the
// backend as alice's job.
class QueuePolicy {
  public:
    // Asks the scheduler the backend was started by (libcups finds it through CUPS_SERVER) for
    // `queue`'s "printer-op-policy". nullopt, with the reason in `error`, when it cannot tell.
    static std::optional<std::string> of(const std::string& queue, std::string& error);
};

}  // namespace velmora::backend
