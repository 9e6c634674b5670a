#include "core/model/PrinterMasks.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(PrinterMasks, NamesAreWrittenInBitOrder) {
    EXPECT_EQ(encryptionNamesFromMask(5), "AES,RSA");
    EXPECT_EQ(encryptionNamesFromMask(3), "AES,AES0");
    EXPECT_EQ(transportNamesFromMask(58), "bmp,jpg,png,pdf");
    EXPECT_EQ(transportNamesFromMask(63), "emf,bmp,ps,jpg,png,pdf");
    EXPECT_EQ(transportNamesFromMask(0), "");
    EXPECT_EQ(encryptionNamesFromMask(0), "");
    // Bits without a name are left out rather than producing empty list entries.
    EXPECT_EQ(transportNamesFromMask(64 | 2), "bmp");
    EXPECT_EQ(encryptionNamesFromMask(-1), "AES,AES0,RSA");
}

TEST(PrinterMasks, NameListsReadIntoTheUnionOfKnownBits) {
    EXPECT_EQ(encryptionMaskFromNames("AES0,AES"), 3);
    EXPECT_EQ(encryptionMaskFromNames("AES,unknown"), 1);
    EXPECT_EQ(encryptionMaskFromNames(""), 0);
    EXPECT_EQ(encryptionMaskFromNames("aes,Aes0"), 0);
    EXPECT_EQ(transportMaskFromNames("bmp,jpg,png,pdf"), 58);
    EXPECT_EQ(transportMaskFromNames("pdf,,emf,"), 33);
    // Names are matched exactly: surrounding blanks make a name unknown.
    EXPECT_EQ(transportMaskFromNames("bmp, pdf"), 2);
    EXPECT_EQ(transportMaskFromNames(transportNamesFromMask(58)), 58);
}

TEST(PrinterMasks, SingleNamesFallBackForAnythingUnknown) {
    EXPECT_EQ(encryptionFromName("AES", 0), 1);
    EXPECT_EQ(encryptionFromName("AES0", 0), 2);
    EXPECT_EQ(encryptionFromName("RSA", 0), 4);
    EXPECT_EQ(encryptionFromName("aes0", 0), 0);
    EXPECT_EQ(encryptionFromName("AES,AES0", 0), 0);
    EXPECT_EQ(transportFromName("pdf", 1), 32);
    EXPECT_EQ(transportFromName("", 1), 1);
    EXPECT_EQ(transportFromName("PDF", 7), 7);
}

}  // namespace
}  // namespace velmora
