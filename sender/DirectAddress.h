#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// The address of a nearby console's direct print server as the service names it: "host:port",
// or the same with an "http://" or "https://" scheme in front. The direct print server speaks
// plain HTTP, so a bare address is reached with "http". Anything else (a path, a query, user
// information, another scheme, a bad port) is refused, because the text comes from the network
// and becomes the address the pages are posted to.
class DirectAddress {
  public:
    static std::optional<DirectAddress> parse(std::string_view text);

    const std::string& scheme() const { return scheme_; }
    const std::string& authority() const { return authority_; }
    // scheme://authority followed by `path` ("/hello", "/post").
    std::string url(std::string_view path) const;

  private:
    DirectAddress(std::string scheme, std::string authority)
        : scheme_(std::move(scheme)), authority_(std::move(authority)) {}

    std::string scheme_;
    std::string authority_;
};

}  // namespace velmora
