#include "sender/DirectAddress.h"

#include <algorithm>
#include <cctype>

namespace velmora {

namespace {

constexpr size_t kMaxHostLength = 253;

std::string lowerCase(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

bool isHostNameCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-';
}

// A DNS name or dotted IPv4 address.
bool isHostName(std::string_view host) {
    return !host.empty() && host.size() <= kMaxHostLength && host.front() != '-' &&
           host.front() != '.' && std::all_of(host.begin(), host.end(), isHostNameCharacter);
}

// "[...]" holding an IPv6 address (hex digits, colons, dots for an embedded IPv4 part).
bool isBracketedIpv6(std::string_view host) {
    if (host.size() < 4 || host.front() != '[' || host.back() != ']')
        return false;
    std::string_view inside = host.substr(1, host.size() - 2);
    return inside.find(':') != std::string_view::npos &&
           std::all_of(inside.begin(), inside.end(), [](char c) {
               return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
           });
}

bool isPort(std::string_view port) {
    if (port.empty() || port.size() > 5)
        return false;
    if (!std::all_of(port.begin(), port.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        return false;
    }
    const int value = std::stoi(std::string(port));
    return value >= 1 && value <= 65535;
}

bool isAuthority(std::string_view authority) {
    std::string_view host = authority;
    std::string_view port;
    const size_t bracket = authority.rfind(']');
    const size_t colon = authority.rfind(':');
    if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
        if (!isPort(port))
            return false;
    }
    return isHostName(host) || isBracketedIpv6(host);
}

}  // namespace

std::optional<DirectAddress> DirectAddress::parse(std::string_view text) {
    std::string scheme = "http";
    std::string_view rest = text;
    const size_t separator = text.find("://");
    if (separator != std::string_view::npos) {
        scheme = lowerCase(text.substr(0, separator));
        if (scheme != "http" && scheme != "https")
            return std::nullopt;
        rest = text.substr(separator + 3);
    }
    // A single closing slash is still just the server.
    if (!rest.empty() && rest.back() == '/')
        rest.remove_suffix(1);
    if (!isAuthority(rest))
        return std::nullopt;
    return DirectAddress(std::move(scheme), std::string(rest));
}

std::string DirectAddress::url(std::string_view path) const {
    return scheme_ + "://" + authority_ + std::string(path);
}

}  // namespace velmora
