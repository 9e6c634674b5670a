#include "sender/NumericAwareOrder.h"

namespace velmora {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

size_t digitRunEnd(std::string_view text, size_t from) {
    while (from < text.size() && isDigit(text[from]))
        ++from;
    return from;
}

// Compares two runs of digits by value without converting them, so any length works.
int compareNumbers(std::string_view a, std::string_view b) {
    while (a.size() > 1 && a.front() == '0')
        a.remove_prefix(1);
    while (b.size() > 1 && b.front() == '0')
        b.remove_prefix(1);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    const int order = a.compare(b);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

}  // namespace

int NumericAwareOrder::compare(std::string_view a, std::string_view b) {
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            const size_t endA = digitRunEnd(a, i);
            const size_t endB = digitRunEnd(b, j);
            const int order = compareNumbers(a.substr(i, endA - i), b.substr(j, endB - j));
            if (order != 0)
                return order;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j])
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    const int order = a.compare(b);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

}  // namespace velmora
