#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace velmora::console {

// What a nearby client's "/post" says about the byte range in its body, read from the
// "td-job", "td-page" and "content-range" header values before any of the body is taken.
class DirectPageRequest {
  public:
    struct Range {
        int64_t first = 0;
        int64_t last = 0;
        int64_t total = 0;
        // Bytes the body must hold: last - first + 1.
        int64_t length() const { return last - first + 1; }
    };

    // The job id of "td-job": a positive decimal that fits in 32 bits; nullopt otherwise.
    static std::optional<int> parseJobId(std::string_view value);
    // "N/M": page number N of M pages, both decimal, N at least 1 (M may be 0, "the last").
    static std::optional<std::pair<int, int>> parsePage(std::string_view value);
    // "bytes F-L/T" with the prefix optional: F <= L < T, all decimal and 64-bit.
    static std::optional<Range> parseContentRange(std::string_view value);
    // Plain decimal digits only (no sign, no blanks), at most INT64_MAX.
    static std::optional<int64_t> parseDecimal(std::string_view text);
};

}  // namespace velmora::console
