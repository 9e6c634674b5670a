#pragma once

#include <string>
#include <string_view>

namespace velmora {

// Checks on addresses that arrive from the network or the setup file before a request goes to
// them.
class ServiceUrl {
  public:
    // An absolute "http" or "https" URL with a host, no white space or control characters.
    static bool isHttpUrl(std::string_view text);
    // The host part of a URL ("service.example" of "https://service.example:8443/x"); empty when
    // the text is not a URL.
    static std::string hostOf(std::string_view url);
};

}  // namespace velmora
