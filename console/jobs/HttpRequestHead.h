#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora::console {

// The request line and header fields of one request to the direct print server, as received.
struct HttpRequestHead {
    std::string method;
    // The request target as sent ("/post", "/x?y", "http://host/x"); `path` is its path alone.
    std::string target;
    std::string path;
    std::vector<std::pair<std::string, std::string>> headerFields;

    // The value of the first field whose name equals `name` without regard to case.
    std::optional<std::string_view> headerForKey(std::string_view name) const;
};

}  // namespace velmora::console
