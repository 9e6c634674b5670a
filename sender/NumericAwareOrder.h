#pragma once

#include <string_view>

namespace velmora {

// Orders file names the way people number pages: runs of digits compare by their value
// ("2.bmp" before "10.bmp"), everything else character by character, case-sensitive.
class NumericAwareOrder {
  public:
    // Negative, zero or positive. Names that differ only in leading zeros ("01" and "1") are
    // ordered by their plain text so that the order is total.
    static int compare(std::string_view a, std::string_view b);
    bool operator()(std::string_view a, std::string_view b) const { return compare(a, b) < 0; }
};

}  // namespace velmora
