#pragma once

#include <QString>
#include <QUrl>

#include <optional>
#include <string_view>

namespace velmora::console {

// Addresses handed to the desktop's browser (the service's buy-more page, the web site and its
// help): web pages only, whatever the service sent. Anything else would let a service open
// local files or run other URL handlers on this computer.
class WebAddress {
  public:
    // The address as a URL when it is an absolute http or https address with a host and no
    // user information; nullopt otherwise.
    static std::optional<QUrl> parse(std::string_view text);
    // Opens the address in the default browser; false, opening nothing, when parse refuses it.
    static bool open(std::string_view text);
};

}  // namespace velmora::console
