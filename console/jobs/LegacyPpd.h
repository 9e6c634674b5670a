#pragma once

#include <cups/cups.h>

#include <string>

namespace velmora::console {

// The few things read from a queue's PPD. libcups marks every PPD call deprecated; they stay in
// this one place.
class LegacyPpd {
  public:
    // True when the queue's PPD has a "DefaultDuplex" entry, whatever its value.
    static bool hasDefaultDuplex(http_t* connection, const std::string& queue);
};

}  // namespace velmora::console
