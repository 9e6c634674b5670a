#include "console/jobs/HttpResponse.h"

#include <fmt/format.h>
#include <boost/beast/http/status.hpp>

#include <strings.h>

namespace velmora::console {

std::string HttpResponse::serialize() const {
    namespace http = boost::beast::http;
    const auto reason = http::obsolete_reason(static_cast<http::status>(status));
    std::string text =
        fmt::format("HTTP/1.1 {} {}\r\n", status, std::string_view(reason.data(), reason.size()));
    for (const auto& [name, value] : headers) {
        if (::strcasecmp(name.c_str(), "Connection") == 0 ||
            ::strcasecmp(name.c_str(), "Content-Length") == 0) {
            continue;
        }
        text += fmt::format("{}: {}\r\n", name, value);
    }
    text += fmt::format("Connection: close\r\nContent-Length: {}\r\n\r\n", body.size());
    text += body;
    return text;
}

}  // namespace velmora::console
