#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "console/remote/QueueOperation.h"

namespace velmora::console {

// The lpadmin argument vector of one queue operation. Every argument is one element: a title
// or id is never parsed by a shell, and the description always follows "-D" as its value.
class LpadminCommand {
  public:
    struct Settings {
        std::string lpadminPath = "/usr/sbin/lpadmin";
        std::string server;  // "" for the system's scheduler, else passed with -h
        // Holds the duplex PPD and the PPD that each user's console generates.
        std::filesystem::path systemDir;
        // Whose generated PPD the queues get; "" for the user this process runs as.
        std::string ppdOwner;
        // The scheduler policy that checks who submits a job; "" for the default policy.
        std::string opPolicy;
    };

    static constexpr const char* kDuplexPpdName = "Velmora_duplex.ppd";

    static std::vector<std::string> arguments(const QueueOperation& operation,
                                              const Settings& settings);
    static std::filesystem::path ppdPath(const Settings& settings, bool duplex);
    // `ppdOwner`, or the name of the user this process runs as.
    static std::string ppdOwnerOf(const Settings& settings);
};

}  // namespace velmora::console
