#pragma once

#include <cups/cups.h>

#include <map>
#include <optional>
#include <string>

namespace velmora::console {

// The few things read from a queue's PPD. libcups marks every PPD call deprecated; they stay in
// this one place.
class LegacyPpd {
  public:
    struct Facts {
        // The PPD has a "DefaultDuplex" entry, whatever its value.
        bool hasDefaultDuplex = false;
        // The PPD's own names of its paper sizes, by the print system's media name.
        std::map<std::string, std::string> paperTitles;
    };

    // The PPD is fetched over `connection` itself, so a scheduler other than the system's
    // answers for its own queues. nullopt for a queue without a PPD.
    static std::optional<Facts> read(http_t* connection, const std::string& queue);
};

}  // namespace velmora::console
