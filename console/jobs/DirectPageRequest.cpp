#include "console/jobs/DirectPageRequest.h"

#include <charconv>
#include <limits>

namespace velmora::console {

std::optional<int64_t> DirectPageRequest::parseDecimal(std::string_view text) {
    if (text.empty())
        return std::nullopt;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
    }
    int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

namespace {

std::optional<int> parseInt32(std::string_view text) {
    const std::optional<int64_t> value = DirectPageRequest::parseDecimal(text);
    if (!value || *value > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(*value);
}

}  // namespace

std::optional<int> DirectPageRequest::parseJobId(std::string_view value) {
    const std::optional<int> id = parseInt32(value);
    if (!id || *id == 0)
        return std::nullopt;
    return id;
}

std::optional<std::pair<int, int>> DirectPageRequest::parsePage(std::string_view value) {
    const size_t slash = value.find('/');
    if (slash == std::string_view::npos)
        return std::nullopt;
    const std::optional<int> number = parseInt32(value.substr(0, slash));
    const std::optional<int> count = parseInt32(value.substr(slash + 1));
    if (!number || !count || *number < 1)
        return std::nullopt;
    return std::pair{*number, *count};
}

std::optional<DirectPageRequest::Range> DirectPageRequest::parseContentRange(
    std::string_view value) {
    constexpr std::string_view kPrefix = "bytes ";
    if (value.starts_with(kPrefix))
        value.remove_prefix(kPrefix.size());
    const size_t dash = value.find('-');
    if (dash == std::string_view::npos)
        return std::nullopt;
    const size_t slash = value.find('/', dash + 1);
    if (slash == std::string_view::npos)
        return std::nullopt;
    const std::optional<int64_t> first = parseDecimal(value.substr(0, dash));
    const std::optional<int64_t> last = parseDecimal(value.substr(dash + 1, slash - dash - 1));
    const std::optional<int64_t> total = parseDecimal(value.substr(slash + 1));
    if (!first || !last || !total || *first > *last || *last >= *total)
        return std::nullopt;
    return Range{*first, *last, *total};
}

}  // namespace velmora::console
