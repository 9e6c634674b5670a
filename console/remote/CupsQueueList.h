#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::console {

// The print system's queues as the virtual printers need them, read through libcups over one
// connection (never by reading a command's output).
class CupsQueueList {
  public:
    struct Queue {
        std::string name;
        std::string info;       // "printer-info", the description
        std::string deviceUri;  // "device-uri"
        // Only looked up for queues that are ours (it costs a PPD download).
        bool hasDefaultDuplex = false;
    };

    // `server`: "" for the system's scheduler, else a socket path or host. nullopt, with
    // `error`, when the scheduler cannot be reached or cannot list its queues.
    static std::optional<std::vector<Queue>> list(const std::string& server, std::string& error);
    // The queue of that name, compared as the scheduler does (without regard to case).
    static const Queue* find(const std::vector<Queue>& queues, std::string_view name);
};

}  // namespace velmora::console
