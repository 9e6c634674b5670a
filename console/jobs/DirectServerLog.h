#pragma once

#include "core/Deployment.h"
#include "platform/Logger.h"

#include <string>

namespace velmora::console {

// The direct print server's log: the server and its handlers write to one category.
inline const Logger& serverLog() {
    static const Logger log(std::string(deployment::kLogSubsystem), "server");
    return log;
}

}  // namespace velmora::console
