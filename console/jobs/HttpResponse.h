#pragma once

#include <string>
#include <utility>
#include <vector>

namespace velmora::console {

// One complete answer of the direct print server. Every answer closes its connection.
struct HttpResponse {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    // Status line, the given fields, then "Connection: close" and "Content-Length" (which
    // replace given fields of those names), a blank line and the body.
    std::string serialize() const;

    static HttpResponse withStatus(int status) { return HttpResponse{status, {}, {}}; }
    static HttpResponse xml(std::string body) {
        return HttpResponse{200, {{"Content-Type", "text/xml"}}, std::move(body)};
    }
};

}  // namespace velmora::console
