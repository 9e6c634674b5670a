#pragma once

#include <span>
#include <string>

#include "packaging/cups/BackendSettings.h"

namespace velmora::backend {

// The CUPS backend for "velmora:/" queues. For each job it makes a spool folder owned by the
// job's user, stores the raster there, runs the converter and then the sender as that user,
// and removes the folder. A SIGTERM from the scheduler is passed on to the running child.
class Backend {
  public:
    // `arguments` without the program name; `queue` is the queue the scheduler names. Returns
    // the backend's exit code as `man backend` defines them.
    static int run(std::span<const std::string> arguments, const std::string& queue,
                   const BackendSettings& settings);
};

}  // namespace velmora::backend
