#pragma once

#include <string>

namespace velmora::console {

// A newer build that the update description offers for this system.
struct UpdateOffer {
    std::string href;         // the package's address, as the service gave it
    int version = 0;          // major × 1000 + minor × 100 + patch
    double kilobytes = 0;     // the announced size
    std::string description;  // "2.0.3 (2.0 Mb)"
};

}  // namespace velmora::console
