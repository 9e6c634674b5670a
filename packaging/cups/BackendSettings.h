#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace velmora::backend {

// Where the backend finds its programs and keeps its spool folders. The installed backend uses
// the compiled-in values; nothing is read from the environment.
struct BackendSettings {
    // Holds one folder per job; root-owned and closed to others except for passing through.
    std::filesystem::path spoolRoot;
    std::string converterPath;
    std::string senderPath;
    // Arguments put before the job's options (the test twin of the sender takes its folder).
    std::vector<std::string> senderLeadingArguments;
    // The job's raster is stored before it is converted; a stream that never ends would fill
    // the spool's disk. A job beyond this is cancelled.
    unsigned long long maxRasterBytes = 8ULL << 30;
    // The scheduler policy a queue must have before anything runs as a job's user: only under
    // it is the user name proven. Empty only for tests that run the backend without a scheduler.
    std::string queuePolicy;

    static BackendSettings installed();
};

}  // namespace velmora::backend
