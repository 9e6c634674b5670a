#include <gtest/gtest.h>

#include <algorithm>

#include "sender/GzipPacker.h"
#include "sender/NumericAwareOrder.h"
#include "tests/sender/SenderFixture.h"

namespace velmora::test {
namespace {

TEST(NumericAwareOrderTest, RunsOfDigitsCompareByValueAndTheRestByCharacter) {
    std::vector<std::string> names = {"10.bmp",
                                      "2.bmp",
                                      "1.bmp",
                                      "page10b",
                                      "page10a",
                                      "page9",
                                      "Page1",
                                      "a",
                                      "0002.bmp",
                                      "1000.bmp",
                                      "99.bmp",
                                      "007.bmp",
                                      "B",
                                      "99999999999999999999.bmp",
                                      "100000000000000000000.bmp"};
    std::sort(names.begin(), names.end(), NumericAwareOrder());
    EXPECT_EQ(names, (std::vector<std::string>{"1.bmp", "0002.bmp", "2.bmp", "007.bmp", "10.bmp",
                                               "99.bmp", "1000.bmp", "99999999999999999999.bmp",
                                               "100000000000000000000.bmp", "B", "Page1", "a",
                                               "page9", "page10a", "page10b"}));
    EXPECT_EQ(NumericAwareOrder::compare("x", "x"), 0);
    EXPECT_LT(NumericAwareOrder::compare("x", "x1"), 0);
    EXPECT_GT(NumericAwareOrder::compare("x2", "x1"), 0);
}

using SortedFilesTest = SenderFixture;

TEST_F(SortedFilesTest, KeepsNamesWithTheExtensionInAnyCaseInPageOrder) {
    for (const char* name :
         {"10.bmp", "2.BMP", "1.bmp", "3.Bmp", "1.bmp.enc", "bmp", "x.bmpx", "notes.txt", ".bmp"}) {
        ScratchDirectory::writeFile(spoolDir() / name, "x");
    }
    EXPECT_EQ(Sender::sortedFilesFrom(spoolDir(), "bmp"),
              (std::vector<std::string>{".bmp", "1.bmp", "2.BMP", "3.Bmp", "10.bmp"}));
    EXPECT_EQ(Sender::sortedFilesFrom(spoolDir(), "enc"), (std::vector<std::string>{"1.bmp.enc"}));
}

TEST_F(SortedFilesTest, AnUnreadableDirectoryGivesNoNamesAndALogLine) {
    const auto missing = scratch_ / "gone";
    EXPECT_TRUE(Sender::sortedFilesFrom(missing, "bmp").empty());
    bool found = false;
    for (const std::string& line : log_->messages())
        found = found ||
                line.rfind("Error reading directory contents at path " + missing.string() + ": ",
                           0) == 0;
    EXPECT_TRUE(found);
}

using GzipPackerTest = SenderFixture;

TEST_F(GzipPackerTest, PacksAFileOfSeveralBlocksIntoAGzipStream) {
    for (size_t size : {size_t{0}, size_t{9999}, size_t{10000}, size_t{25001}}) {
        const std::string plain = writePage("page.bmp", size, static_cast<unsigned>(size));
        std::string error;
        ASSERT_TRUE(GzipPacker::pack(spoolDir() / "page.bmp", spoolDir() / "page.gz", error))
            << error;
        const std::string packed = ScratchDirectory::readFile(spoolDir() / "page.gz");
        ASSERT_GE(packed.size(), 18u);
        EXPECT_EQ(static_cast<uint8_t>(packed[0]), 0x1F);
        EXPECT_EQ(static_cast<uint8_t>(packed[1]), 0x8B);
        EXPECT_EQ(gunzip(packed), plain) << size;
    }
}

TEST_F(GzipPackerTest, AMissingSourceOrUnwritableTargetFailsAndLeavesNothing) {
    std::string error;
    EXPECT_FALSE(GzipPacker::pack(spoolDir() / "absent.bmp", spoolDir() / "out.gz", error));
    EXPECT_NE(error.find("absent.bmp"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(spoolDir() / "out.gz"));

    writePage("page.bmp", 100);
    error.clear();
    EXPECT_FALSE(GzipPacker::pack(spoolDir() / "page.bmp", scratch_ / "no" / "dir.gz", error));
    EXPECT_FALSE(error.empty());

    // A link at either name is refused, and what it names is left as it was.
    ScratchDirectory::writeFile(scratch_ / "victim", "unchanged");
    std::filesystem::create_symlink(scratch_ / "victim", spoolDir() / "linked.gz");
    EXPECT_FALSE(GzipPacker::pack(spoolDir() / "page.bmp", spoolDir() / "linked.gz", error));
    std::filesystem::create_symlink(scratch_ / "victim", spoolDir() / "linked.bmp");
    EXPECT_FALSE(GzipPacker::pack(spoolDir() / "linked.bmp", spoolDir() / "out.gz", error));
    EXPECT_EQ(ScratchDirectory::readFile(scratch_ / "victim"), "unchanged");
    EXPECT_TRUE(std::filesystem::is_symlink(spoolDir() / "linked.gz"));
    EXPECT_FALSE(std::filesystem::exists(spoolDir() / "out.gz"));
}

}  // namespace
}  // namespace velmora::test
