#include "sender/OptionsList.h"

#include <gtest/gtest.h>

#include "tests/sender/SenderFixture.h"

namespace velmora::test {
namespace {

TEST(OptionsListTest, SplitsAtTheFirstEqualsSignAndLaterKeysReplaceEarlierOnes) {
    const std::vector<std::string> arguments = {"User=alice", "Flag",   "Title=a=b=c",
                                                "User=bob",   "Empty=", "=orphan"};
    const OptionsList options = OptionsList::fromArguments(arguments);
    EXPECT_EQ(
        options.values(),
        (OptionsList::Map{
            {"User", "bob"}, {"Flag", ""}, {"Title", "a=b=c"}, {"Empty", ""}, {"", "orphan"}}));
    EXPECT_TRUE(options.contains("Flag"));
    EXPECT_FALSE(options.contains("user"));  // keys are case-sensitive
    EXPECT_EQ(options.value("Missing"), std::nullopt);
}

TEST(OptionsListTest, BytesThatAreNotUtf8BecomeReplacementCharacters) {
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(OptionsList::validUtf8("Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x96\xA8"),
              "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x96\xA8");
    EXPECT_EQ(OptionsList::validUtf8("a\xFF"
                                     "b"),
              "a" + replacement + "b");
    EXPECT_EQ(OptionsList::validUtf8("\xC0\xAF"), replacement + replacement);  // overlong
    EXPECT_EQ(OptionsList::validUtf8("\xED\xA0\x80"),
              replacement + replacement + replacement);             // surrogate
    EXPECT_EQ(OptionsList::validUtf8("x\xC3"), "x" + replacement);  // cut short
    const std::vector<std::string> arguments = {"T\xFF=v\xFE"};
    EXPECT_EQ(OptionsList::fromArguments(arguments).valueOrEmpty("T" + replacement),
              "v" + replacement);
}

using SenderOptionsTest = SenderFixture;

TEST_F(SenderOptionsTest, CopiesAreOneUnlessAPositiveNumberIsGiven) {
    const std::pair<const char*, int> cases[] = {{"0", 1},   {"3", 3},  {"-2", 1},
                                                 {"abc", 1}, {"4x", 4}, {"", 1}};
    for (const auto& [value, copies] : cases) {
        Sender sender(options({{"com.apple.print.PrintSettings.PMCopies..n.", value}}),
                      systemDir());
        EXPECT_EQ(sender.job().copies(), copies) << value;
    }
    EXPECT_EQ(Sender(options(), systemDir()).job().copies(), 1);
}

TEST_F(SenderOptionsTest, CollateIsOnWheneverItsKeyIsPresent) {
    EXPECT_FALSE(Sender(options(), systemDir()).job().collate());
    for (const char* value : {"false", "", "0", "true"}) {
        Sender sender(options({{"com.apple.print.PrintSettings.PMCopyCollate..b.", value}}),
                      systemDir());
        EXPECT_TRUE(sender.job().collate()) << value;
    }
}

TEST_F(SenderOptionsTest, DuplexNamesMapToTheirModesAndOthersLeaveNone) {
    const std::pair<const char*, int> cases[] = {{"None", 0},
                                                 {"DuplexTumble", 1},
                                                 {"DuplexNoTumble", 2},
                                                 {"duplextumble", 0},
                                                 {"TwoSided", 0}};
    for (const auto& [value, duplex] : cases) {
        Sender sender(options({{"Duplex", value}}), systemDir());
        EXPECT_EQ(sender.job().duplex(), duplex) << value;
    }
}

TEST_F(SenderOptionsTest, JobFieldsComeFromTheirOptionsAndEveryOptionIsLogged) {
    Sender sender(options({{"media", "A4"}, {"InputSlot", "tray2"}}), systemDir());
    EXPECT_EQ(sender.job().title(), "Report");
    EXPECT_EQ(sender.job().format(), "A4");
    EXPECT_EQ(sender.job().bin(), "tray2");
    EXPECT_EQ(sender.job().orientation(), JobData::kPortrait);
    EXPECT_EQ(sender.jobDir(), spoolDir().string());
    EXPECT_EQ(sender.userName(), "alice");
    EXPECT_TRUE(logged("Sender init with options:"));
    EXPECT_TRUE(logged("Sender option InputSlot = tray2"));
    EXPECT_TRUE(logged("Sender option User = alice"));
}

TEST_F(SenderOptionsTest, MissingSpoolDirOrUserStopsTheRun) {
    std::string message;
    Sender noSpool(OptionsList(OptionsList::Map{{"User", "alice"}}), systemDir());
    EXPECT_FALSE(noSpool.runInternal(message));
    EXPECT_EQ(message, "No SpoolDir argument");
    Sender noUser(OptionsList(OptionsList::Map{{"SpoolDir", spoolDir().string()}}), systemDir());
    EXPECT_FALSE(noUser.runInternal(message));
    EXPECT_EQ(message, "No User argument");
    EXPECT_TRUE(logged("Sender started"));

    // Without a user there is no message file to write; the message still reaches the log.
    noUser.run();
    EXPECT_TRUE(logged("No User argument"));
    EXPECT_TRUE(std::filesystem::is_empty(systemDir()));
}

TEST_F(SenderOptionsTest, WithoutASetupOrTokenTheUserIsToldToLogIn) {
    Sender missing(options(), systemDir());
    missing.run();
    EXPECT_EQ(message(), Sender::kNotLoggedMessage);

    std::filesystem::remove(messageFile());
    Setup setup;
    setup.token = "";
    setup.service = "http://127.0.0.1:9/tdService.asmx";
    writeSetup(setup);
    Sender noToken(options(), systemDir());
    noToken.run();
    EXPECT_EQ(message(), Sender::kNotLoggedMessage);
    EXPECT_TRUE(logged("user: alice"));
    // Nothing was sent anywhere: the run stopped before the log-in.
    EXPECT_FALSE(logged("Login with token Error"));
}

TEST_F(SenderOptionsTest, AUserNameThatIsNoFileNameWritesNothingOutsideTheSharedFolder) {
    Sender sender(options({{"User", "../escape"}}), systemDir());
    sender.run();
    EXPECT_TRUE(std::filesystem::is_empty(systemDir()));
    EXPECT_FALSE(std::filesystem::exists(scratch_ / "messages..txt"));
    EXPECT_FALSE(std::filesystem::exists(scratch_ / "escape.txt"));
    EXPECT_TRUE(logged(std::string(Sender::kNotLoggedMessage)));
}

}  // namespace
}  // namespace velmora::test
