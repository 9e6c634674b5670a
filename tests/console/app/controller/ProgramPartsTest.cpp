#include <gtest/gtest.h>

#include <future>
#include <string>
#include <thread>
#include <vector>

#include "console/app/controller/ConsoleProgram.h"
#include "console/app/controller/HeadlessUi.h"
#include "console/app/controller/RetryPause.h"
#include "console/app/controller/StatusNotice.h"
#include "console/app/controller/StderrLogSink.h"
#include "platform/CaptureLogSink.h"
#include "platform/PlainRunLoop.h"

namespace velmora::console {
namespace {

using Seconds = RetryPause::Seconds;

TEST(RetryPauseTest, DoublesUpToFiveMinutesAndStartsAgainAfterASuccess) {
    RetryPause pause;
    std::vector<double> seen;
    for (int i = 0; i < 9; ++i)
        seen.push_back(pause.next().count());
    EXPECT_EQ(seen, (std::vector<double>{5, 10, 20, 40, 80, 160, 300, 300, 300}));
    pause.reset();
    EXPECT_EQ(pause.next().count(), 5);
}

TEST(StatusNoticeTest, SplitsTitleAndTextAtTheSeparator) {
    const struct {
        const char* notice;
        const char* title;
        const char* text;
    } cases[] = {
        {"Report.pdf/phTitsuccessfully sent for printing on Office", "Report.pdf",
         "successfully sent for printing on Office"},
        {"3 new job(s) arrived", "", "3 new job(s) arrived"},
        {"a/phTitb/phTitc", "a", "b"},
        {"/phTit", "", ""},
    };
    for (const auto& [notice, title, text] : cases) {
        const StatusNotice split = StatusNotice::split(notice);
        EXPECT_EQ(split.title, title) << notice;
        EXPECT_EQ(split.text, text) << notice;
    }
}

TEST(StderrLogSinkTest, OneLinePerEntryWhateverTheMessageHolds) {
    EXPECT_EQ(StderrLogSink::line("velmora", LogLevel::Error, "main",
                                  "Login failed: bad\r\nvelmora: [main] default: forged\x1b[2J"),
              "velmora: [main] error: Login failed: bad??velmora: [main] default: forged?[2J\n");
    // A huge message is cut, never inside a character: "é" is two bytes and straddles the limit.
    const std::string huge = std::string(StderrLogSink::kMaxMessageBytes - 1, 'x') + "\xc3\xa9" +
                             std::string(16 << 20, 'y');
    const std::string cut = StderrLogSink::line("velmora", LogLevel::Error, "main", huge);
    const std::string prefix = "velmora: [main] error: ";
    EXPECT_EQ(cut, prefix + std::string(StderrLogSink::kMaxMessageBytes - 1, 'x') + " [" +
                       std::to_string(huge.size() - (StderrLogSink::kMaxMessageBytes - 1)) +
                       " more bytes not shown]\n");
}

TEST(ConsoleProgramTest, TheInstalledProgramTakesNoTestSettings) {
    std::string error;
    const auto headless = ConsoleProgram::parse({"--headless"}, false, error);
    ASSERT_TRUE(headless);
    EXPECT_TRUE(headless->context.headless);
    EXPECT_FALSE(headless->context.startHidden);
    // The start at login's option: the window waits in the tray.
    const auto hidden = ConsoleProgram::parse({"--hidden"}, false, error);
    ASSERT_TRUE(hidden);
    EXPECT_TRUE(hidden->context.startHidden);
    EXPECT_FALSE(hidden->context.headless);
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--system-dir", "/tmp"},
          {"--duplex-ppd=/tmp/planted.ppd"},
          {"--direct-port=1"},
          {"--runtime-dir=/tmp"},
          {"--headless=yes"},
          {"--hidden=1"},
          {"extra"}}) {
        EXPECT_FALSE(ConsoleProgram::parse(arguments, false, error)) << arguments.front();
        EXPECT_NE(error, "");
    }
}

TEST(ConsoleProgramTest, TheTestTwinTakesTheSharedFolderAndPort) {
    std::string error;
    const auto options =
        ConsoleProgram::parse({"--headless", "--system-dir", "/srv/v", "--direct-port=0",
                               "--runtime-dir=/run/x", "--duplex-ppd", "/src/Velmora_duplex.ppd"},
                              true, error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->context.systemDir, "/srv/v");
    EXPECT_EQ(options->context.duplexPpd, "/src/Velmora_duplex.ppd");
    EXPECT_EQ(options->context.directPort, 0);
    EXPECT_EQ(options->runtimeDir, std::filesystem::path("/run/x"));
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--direct-port", "65536"},
          {"--direct-port=-1"},
          {"--direct-port=8032x"},
          {"--system-dir"},
          {"--system-dir="},
          {"--duplex-ppd="}}) {
        EXPECT_FALSE(ConsoleProgram::parse(arguments, true, error)) << arguments.front();
    }
}

// A console without a window answers every sheet with its default button by itself, later
// each time the service fails again, and soon again once it answered.
class HeadlessUiTest : public ::testing::Test {
  protected:
    void SetUp() override { previousSink_ = Logger::setSink(log_); }
    void TearDown() override {
        loop_.stop();
        if (thread_.joinable())
            thread_.join();
        Logger::setSink(previousSink_);
    }

    std::shared_ptr<CaptureLogSink> log_ = std::make_shared<CaptureLogSink>();
    std::shared_ptr<LogSink> previousSink_;
    PlainRunLoop loop_;
    std::thread thread_;
};

TEST_F(HeadlessUiTest, ChoosesTheDefaultButtonAfterAGrowingPause) {
    HeadlessUi ui(loop_, RetryPause(Seconds(0.05), Seconds(0.2)));
    thread_ = std::thread([this] { loop_.run(); });
    std::promise<bool> chosen;
    const ChoiceSheet sheet{ChoiceSheet::Kind::FastCheckFailed, "Check for new documents failed",
                            "Couldn't connect to server {}", "Try Again", "Log Out"};
    loop_.postAndWait(
        [&] { ui.showChoiceSheet(sheet, [&](bool button) { chosen.set_value(button); }); });
    auto answer = chosen.get_future();
    ASSERT_EQ(answer.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_TRUE(answer.get());
    EXPECT_EQ(ui.pause().peek().count(), 0.1);
    ui.serviceReached();
    EXPECT_EQ(ui.pause().peek().count(), 0.05);
    EXPECT_TRUE(log_->contains(LogLevel::Default, "The service answers again"));
    // The service's text is logged as it is, braces and all.
    EXPECT_TRUE(log_->contains(LogLevel::Error,
                               "Check for new documents failed: Couldn't connect to server {}; "
                               "choosing \"Try Again\" in 0.05 s"));
}

// The token may have been renewed meanwhile: a refused sign-in reads the setup file again
// instead of trying the same token.
TEST_F(HeadlessUiTest, ARefusedSignInIsRetriedFromTheSetupFile) {
    HeadlessUi ui(loop_, RetryPause(Seconds(0.01), Seconds(1)));
    std::promise<void> retried;
    bool sameTokenAgain = false;
    ui.setSignInRetry([&] { retried.set_value(); });
    thread_ = std::thread([this] { loop_.run(); });
    const ChoiceSheet sheet{ChoiceSheet::Kind::LoginFailed, "Login failed", "Invalid token",
                            "Try Again", "Log Out"};
    loop_.postAndWait([&] { ui.showChoiceSheet(sheet, [&](bool) { sameTokenAgain = true; }); });
    ASSERT_EQ(retried.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
    loop_.postAndWait([] {});
    EXPECT_FALSE(sameTokenAgain);
}

TEST_F(HeadlessUiTest, WithoutATokenItLooksForOneAgainLater) {
    HeadlessUi ui(loop_, RetryPause(Seconds(0.01), Seconds(1)));
    std::promise<void> retried;
    ui.setSignInRetry([&] { retried.set_value(); });
    thread_ = std::thread([this] { loop_.run(); });
    loop_.postAndWait([&] { ui.showLoginDialog(); });
    EXPECT_EQ(retried.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
    const auto errors = log_->messages(LogLevel::Error);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("sign in once with the window"), std::string::npos);
}

}  // namespace
}  // namespace velmora::console
