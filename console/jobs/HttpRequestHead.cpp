#include "console/jobs/HttpRequestHead.h"

#include <algorithm>
#include <cctype>

namespace velmora::console {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

}  // namespace

std::optional<std::string_view> HttpRequestHead::headerForKey(std::string_view name) const {
    for (const auto& [fieldName, value] : headerFields) {
        if (equalsIgnoringCase(fieldName, name))
            return std::string_view(value);
    }
    return std::nullopt;
}

}  // namespace velmora::console
