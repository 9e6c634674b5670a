#pragma once

#include "platform/NetService.h"

#include <cstdint>
#include <memory>
#include <string>

namespace velmora::console {

// The local network announcement of the direct print server: "_velmora._tcp" in "local.",
// under the computer's name, with the console's version in the TXT key "client".
class DirectServerAnnouncement {
  public:
    static constexpr const char* kType = "_velmora._tcp";
    static constexpr const char* kDomain = "local";

    // "Velmora/linux major.minor.patch" from a version number such as 1601 (1.6.1).
    static std::string clientText(int versionNumber);

    // Publishes the announcement; the returned object keeps it for as long as it lives.
    static std::unique_ptr<NetService> registerBonjour(int versionNumber, uint16_t port);
};

}  // namespace velmora::console
