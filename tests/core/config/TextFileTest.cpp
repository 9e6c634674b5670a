#include "core/config/TextFile.h"

#include <gtest/gtest.h>

#include <string>

namespace velmora {
namespace {

TEST(TextFile, Utf8ValidationAcceptsTextAndRejectsMalformedSequences) {
    EXPECT_TRUE(isValidUtf8(""));
    EXPECT_TRUE(isValidUtf8("plain ASCII <setup/>"));
    EXPECT_TRUE(isValidUtf8("M\xc3\xbcller \xe2\x82\xac \xf0\x9f\x96\xa8"));  // ü € 🖨
    EXPECT_TRUE(isValidUtf8("\xf4\x8f\xbf\xbf"));                             // U+10FFFF

    EXPECT_FALSE(isValidUtf8("\xff"));
    EXPECT_FALSE(isValidUtf8("abc\xc3"));           // cut off
    EXPECT_FALSE(isValidUtf8("\xc3\x28"));          // bad continuation
    EXPECT_FALSE(isValidUtf8("\xc0\xaf"));          // overlong '/'
    EXPECT_FALSE(isValidUtf8("\xe0\x80\xaf"));      // overlong '/'
    EXPECT_FALSE(isValidUtf8("\xed\xa0\x80"));      // surrogate
    EXPECT_FALSE(isValidUtf8("\xf4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(isValidUtf8("\xe2\x82"));          // cut off
    EXPECT_FALSE(isValidUtf8(std::string("a\0\x80", 3)));
}

}  // namespace
}  // namespace velmora
