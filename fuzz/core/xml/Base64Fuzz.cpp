// Base64 decoding of key texts from the service, checked against a bit-by-bit reference.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/xml/XmlHelpers.h"

namespace {

int alphabetValue(unsigned char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

bool skipped(unsigned char c) {
    return c == '=' || c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::optional<std::vector<uint8_t>> reference(std::string_view text) {
    std::vector<int> values;
    for (unsigned char c : text) {
        if (c >= 0x80)
            return std::nullopt;
        if (skipped(c))
            continue;
        int value = alphabetValue(c);
        if (value < 0)
            return std::nullopt;
        values.push_back(value);
    }
    if (values.size() % 4 == 1)
        return std::nullopt;
    std::vector<uint8_t> bytes;
    uint32_t bits = 0;
    int held = 0;
    for (int value : values) {
        bits = (bits << 6) | static_cast<uint32_t>(value);
        held += 6;
        if (held >= 8) {
            held -= 8;
            bytes.push_back(static_cast<uint8_t>(bits >> held));
        }
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto decoded = velmora::dataWithBase64EncodedString(text);
    auto expected = reference(text);
    if (decoded.has_value() != expected.has_value() || (decoded && *decoded != *expected))
        std::abort();
    return 0;
}
