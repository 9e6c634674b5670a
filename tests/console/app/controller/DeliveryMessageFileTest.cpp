#include "console/app/controller/DeliveryMessageFile.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/CaptureLogSink.h"
#include "platform/Logger.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora::console {
namespace {

namespace fs = std::filesystem;
using test::ScratchDirectory;

class DeliveryMessageFileTest : public ::testing::Test {
  protected:
    void SetUp() override { previousSink_ = Logger::setSink(log_); }
    void TearDown() override { Logger::setSink(previousSink_); }

    fs::path path() const { return scratch_ / "messages.alice.txt"; }
    DeliveryMessageFile file() const { return DeliveryMessageFile(path(), ::geteuid()); }
    // Nothing of ours is left beside the result: no file moved aside and forgotten.
    size_t entries() const {
        return static_cast<size_t>(
            std::distance(fs::directory_iterator(scratch_.path()), fs::directory_iterator()));
    }

    ScratchDirectory scratch_{"velmora-delivery"};
    std::shared_ptr<CaptureLogSink> log_ = std::make_shared<CaptureLogSink>();
    std::shared_ptr<LogSink> previousSink_;
};

TEST_F(DeliveryMessageFileTest, AResultIsMovedAsideReadAndRemoved) {
    ScratchDirectory::writeFile(path(), "Report.pdf/phTitsuccessfully sent");
    DeliveryMessageFile messages = file();
    const auto taken = messages.take();
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->text, "Report.pdf/phTitsuccessfully sent");
    EXPECT_FALSE(fs::exists(path()));
    EXPECT_TRUE(fs::exists(taken->privatePath));
    messages.remove(*taken);
    EXPECT_EQ(entries(), 0u);
}

// The sender writes the next result while the first one is being shown: it must survive.
TEST_F(DeliveryMessageFileTest, AResultWrittenWhileTheFormerIsShownIsKept) {
    ScratchDirectory::writeFile(path(), "first");
    DeliveryMessageFile messages = file();
    const auto taken = messages.take();
    ASSERT_TRUE(taken);
    ScratchDirectory::writeFile(path(), "second");
    messages.remove(*taken);
    const auto next = messages.take();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->text, "second");
}

TEST_F(DeliveryMessageFileTest, AResultNotShownReturnsUnlessANewerOneIsThere) {
    ScratchDirectory::writeFile(path(), "first");
    DeliveryMessageFile messages = file();
    auto taken = messages.take();
    ASSERT_TRUE(taken);
    messages.putBack(*taken);
    EXPECT_EQ(ScratchDirectory::readFile(path()), "first");

    taken = messages.take();
    ASSERT_TRUE(taken);
    ScratchDirectory::writeFile(path(), "newer");
    messages.putBack(*taken);
    EXPECT_EQ(ScratchDirectory::readFile(path()), "newer");
    EXPECT_EQ(ScratchDirectory::readFile(taken->privatePath), "first");
}

TEST_F(DeliveryMessageFileTest, NoFileAndAnEmptyFileAreNothingToShow) {
    DeliveryMessageFile messages = file();
    EXPECT_FALSE(messages.take());
    ScratchDirectory::writeFile(path(), "");
    EXPECT_FALSE(messages.take());
    // The sender may still be about to write it.
    EXPECT_TRUE(fs::exists(path()));
    EXPECT_TRUE(log_->messages(LogLevel::Error).empty());
}

TEST_F(DeliveryMessageFileTest, TheLargestAllowedResultIsRead) {
    ScratchDirectory::writeFile(path(), std::string(DeliveryMessageFile::kMaxSize, 'x'));
    DeliveryMessageFile messages = file();
    const auto taken = messages.take();
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->text.size(), DeliveryMessageFile::kMaxSize);
}

// Whatever else sits at the name is refused, logged and left exactly where it is.
struct Planted {
    const char* name;
    std::function<void(const fs::path& path, const fs::path& folder)> plant;
    bool needsRoot = false;
};

class HostileDeliveryFileTest : public DeliveryMessageFileTest,
                                public ::testing::WithParamInterface<Planted> {};

TEST_P(HostileDeliveryFileTest, IsRefusedAndKept) {
    if (GetParam().needsRoot && ::geteuid() != 0)
        GTEST_SKIP() << "giving a file to another user needs root";
    GetParam().plant(path(), scratch_.path());
    struct stat before {};
    ASSERT_EQ(::lstat(path().c_str(), &before), 0);
    const size_t entriesBefore = entries();

    DeliveryMessageFile messages = file();
    EXPECT_FALSE(messages.take());
    EXPECT_FALSE(messages.removeStale());
    EXPECT_FALSE(messages.take());

    struct stat after {};
    ASSERT_EQ(::lstat(path().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(entries(), entriesBefore);
    // Logged once, not at every pass.
    EXPECT_EQ(log_->messages(LogLevel::Error).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, HostileDeliveryFileTest,
    ::testing::Values(Planted{"SymbolicLink",
                              [](const fs::path& path, const fs::path& folder) {
                                  ScratchDirectory::writeFile(folder / "secret", "private text");
                                  fs::create_symlink(folder / "secret", path);
                              }},
                      Planted{"Fifo",
                              [](const fs::path& path, const fs::path&) {
                                  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
                              }},
                      Planted{"Folder", [](const fs::path& path,
                                           const fs::path&) { fs::create_directory(path); }},
                      Planted{"Oversized",
                              [](const fs::path& path, const fs::path&) {
                                  ScratchDirectory::writeFile(
                                      path, std::string(DeliveryMessageFile::kMaxSize + 1, 'x'));
                              }},
                      Planted{"AnotherUsersFile",
                              [](const fs::path& path, const fs::path&) {
                                  ScratchDirectory::writeFile(path, "someone else's words");
                                  const passwd* nobody = ::getpwnam("nobody");
                                  ASSERT_NE(nobody, nullptr);
                                  ASSERT_EQ(::chown(path.c_str(), nobody->pw_uid, nobody->pw_gid),
                                            0);
                              },
                              true}),
    [](const ::testing::TestParamInfo<Planted>& info) { return info.param.name; });

// Another user of the shared folder sees our process id and plants a file at the name a result
// would be moved to; in a sticky folder we could not even remove it. Results must still arrive.
TEST_F(DeliveryMessageFileTest, AFilePlantedWhereAResultIsMovedAsideDoesNotBlockIt) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving a file to another user needs root";
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const fs::path guessed =
        scratch_ / (".messages.alice.txt." + std::to_string(::getpid()) + ".taken");
    ScratchDirectory::writeFile(guessed, "planted");
    ASSERT_EQ(::chown(guessed.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    ScratchDirectory::writeFile(path(), "Report.pdf/phTitsuccessfully sent");

    DeliveryMessageFile messages = file();
    const auto taken = messages.take();
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->text, "Report.pdf/phTitsuccessfully sent");
    messages.remove(*taken);
    EXPECT_EQ(ScratchDirectory::readFile(guessed), "planted");
    EXPECT_EQ(entries(), 1u);
}

TEST_F(DeliveryMessageFileTest, AStaleResultIsRemovedUnshown) {
    ScratchDirectory::writeFile(path(), "from yesterday");
    DeliveryMessageFile messages = file();
    EXPECT_TRUE(messages.removeStale());
    EXPECT_EQ(entries(), 0u);
}

}  // namespace
}  // namespace velmora::console
