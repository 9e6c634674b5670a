#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velmora::console {

// What the print system tells about its queues, read through libcups in one pass over one
// connection. Plain values, so the callers never hold a libcups handle.
class CupsDestinations {
  public:
    struct Media {
        std::string name;   // the print system's identifier ("iso_a4_210x297mm")
        std::string title;  // its localised name for this printer; "" when unknown
        double width = 0;   // points; 0 when unknown
        double height = 0;  // points; 0 when unknown
    };
    struct Queue {
        std::string name;
        std::string info;
        std::string location;
        std::optional<std::string> makeAndModel;
        std::optional<unsigned> state;  // 3 idle, 4 processing, 5 stopped
        std::vector<Media> media;
        std::string defaultMediaTitle;  // "" when the queue names no default
        bool hasDefaultDuplex = false;
    };

    // `server`: "" for the system's scheduler, a socket path or a host name otherwise.
    // nullopt, with `error` set, when the scheduler cannot be reached or cannot list queues.
    static std::optional<std::vector<Queue>> list(const std::string& server, std::string& error);
};

}  // namespace velmora::console
