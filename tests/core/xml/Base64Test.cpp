#include <gtest/gtest.h>

#include <string>

#include "core/xml/XmlHelpers.h"

namespace velmora {
namespace {

std::string decoded(std::string_view text) {
    auto bytes = dataWithBase64EncodedString(text);
    if (!bytes)
        return "<nil>";
    return std::string(bytes->begin(), bytes->end());
}

TEST(Base64, DecodesStandardAlphabetWithAndWithoutPadding) {
    EXPECT_EQ(decoded("TWFu"), "Man");
    EXPECT_EQ(decoded("TWE="), "Ma");
    EXPECT_EQ(decoded("TWE"), "Ma");
    EXPECT_EQ(decoded("TQ=="), "M");
    EXPECT_EQ(decoded("TQ"), "M");
    EXPECT_EQ(decoded("+/+/"), std::string("\xfb\xff\xbf", 3));
    EXPECT_EQ(decoded(""), "");
    EXPECT_EQ(decoded("===="), "");
}

TEST(Base64, SkipsWhiteSpaceAndPadAnywhere) {
    std::string payload(100, '\0');
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<char>(i * 7);
    const std::string flat =
        "AAcOFRwjKjE4P0ZNVFtiaXB3foWMk5qhqK+2vcTL0tng5+71/AMKERgfJi00O0JJUFdeZWxzeoGIj5adpKuy"
        "ucDHztXc4+rx+P8GDRQbIikwNz5FTFNaYWhvdn2Ei5KZoKeutQ==";
    ASSERT_EQ(decoded(flat), payload);
    std::string broken;
    for (size_t i = 0; i < flat.size(); i += 76)
        broken += flat.substr(i, 76) + "\r\n";
    EXPECT_EQ(decoded(broken), payload);
    EXPECT_EQ(decoded(" T\tW=F\nu "), "Man");
}

TEST(Base64, RejectsMalformedText) {
    EXPECT_EQ(decoded("T"), "<nil>");
    EXPECT_EQ(decoded("TWFuT"), "<nil>");
    EXPECT_EQ(decoded("TW-u"), "<nil>");
    EXPECT_EQ(decoded("TW_u"), "<nil>");
    EXPECT_EQ(decoded("TWFu\xc3\xa9"), "<nil>");
    EXPECT_EQ(decoded(std::string("TW\0u", 4)), "<nil>");
}

}  // namespace
}  // namespace velmora
