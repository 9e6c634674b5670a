#include <gtest/gtest.h>

#include <stdlib.h>

#include <fmt/format.h>

#include <cctype>
#include <memory>

#include "console/jobs/DirectServerAnnouncement.h"
#include "platform/CaptureLogSink.h"
#include "platform/Logger.h"
#include "tests/support/PrivateAvahi.h"

namespace velmora::console {
namespace {

using test::PrivateAvahi;

TEST(DirectServerAnnouncementText, SplitsTheVersionNumber) {
    EXPECT_EQ(DirectServerAnnouncement::clientText(1601), "Velmora/linux 1.6.1");
    EXPECT_EQ(DirectServerAnnouncement::clientText(2099), "Velmora/linux 2.0.99");
    EXPECT_EQ(DirectServerAnnouncement::clientText(12345), "Velmora/linux 12.3.45");
}

// A private bus for the whole suite (libdbus reads DBUS_SYSTEM_BUS_ADDRESS once per process)
// and an Avahi daemon on it that each test starts as it needs. Log lines are captured.
class DirectServerAnnouncementTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        avahi_ = std::make_unique<PrivateAvahi>();
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", avahi_->busAddress().c_str(), 1);
    }
    static void TearDownTestSuite() { avahi_.reset(); }

    void SetUp() override {
        if (!avahi_->failure().empty())
            GTEST_SKIP() << "No private D-Bus for the announcement: " << avahi_->failure();
        previousSink_ = Logger::setSink(log_);
    }
    void TearDown() override {
        announcement_.reset();
        avahi_->stopDaemon();
        Logger::setSink(previousSink_);
    }

    // The daemon needs a mount namespace of its own (root or CAP_SYS_ADMIN); where it cannot
    // have one the tests say so instead of passing.
    bool startDaemon() { return avahi_->startDaemon(); }
    bool announced() {
        return PrivateAvahi::waitFor([this] { return !announcement_->publishedName().empty(); });
    }
    // The resolved line of our service as avahi-browse shows it, or "".
    std::string browsed(const std::string& name) {
        // avahi-browse escapes names: dots and backslashes with a backslash, other
        // punctuation and blanks as a backslash and three decimal digits.
        std::string escaped;
        for (char c : name) {
            if (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_')
                escaped += c;
            else if (c == '.' || c == '\\')
                escaped += std::string("\\") + c;
            else
                escaped += fmt::format("\\{:03d}", static_cast<unsigned char>(c));
        }
        for (const std::string& line : avahi_->resolved("_velmora._tcp")) {
            if (line.find(";" + escaped + ";") != std::string::npos)
                return line;
        }
        return "";
    }

    static inline std::unique_ptr<PrivateAvahi> avahi_;
    std::shared_ptr<CaptureLogSink> log_ = std::make_shared<CaptureLogSink>();
    std::shared_ptr<LogSink> previousSink_;
    std::unique_ptr<NetService> announcement_;
};

TEST_F(DirectServerAnnouncementTest, AnnouncesTypePortAndClientUnderTheHostName) {
    if (!startDaemon())
        GTEST_SKIP() << "No private Avahi daemon for the announcement: " << avahi_->failure();
    announcement_ = DirectServerAnnouncement::registerBonjour(1601, 8032);
    ASSERT_TRUE(announced());
    const std::string line = browsed(announcement_->publishedName());
    EXPECT_NE(line.find(";_velmora._tcp;local;"), std::string::npos) << line;
    EXPECT_NE(line.find(";8032;\"client=Velmora/linux 1.6.1\""), std::string::npos) << line;
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    EXPECT_EQ(announcement_->publishedName(),
              std::string(host).substr(0, std::string(host).find('.')));
}

TEST_F(DirectServerAnnouncementTest, DaemonThatComesLaterOrAgainGetsTheAnnouncement) {
    announcement_ = DirectServerAnnouncement::registerBonjour(1601, 8032);
    EXPECT_TRUE(PrivateAvahi::waitFor([this] {
        return log_->contains(LogLevel::Default, "DNS-SD: waiting for the Avahi daemon");
    }));
    EXPECT_EQ(announcement_->publishedName(), "");

    if (!startDaemon())
        GTEST_SKIP() << "No private Avahi daemon for the announcement: " << avahi_->failure();
    ASSERT_TRUE(announced());
    EXPECT_NE(browsed(announcement_->publishedName()), "");

    avahi_->stopDaemon();
    EXPECT_TRUE(PrivateAvahi::waitFor([this] { return announcement_->publishedName().empty(); }));
    if (!startDaemon())
        GTEST_SKIP() << "No private Avahi daemon for the announcement: " << avahi_->failure();
    ASSERT_TRUE(announced());
    EXPECT_NE(browsed(announcement_->publishedName()), "");
}

TEST_F(DirectServerAnnouncementTest, NameCollisionIsLoggedAndAnotherNameTaken) {
    if (!startDaemon())
        GTEST_SKIP() << "No private Avahi daemon for the announcement: " << avahi_->failure();
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const std::string name = std::string(host).substr(0, std::string(host).find('.'));
    const pid_t other = avahi_->publish({"-s", name, "_velmora._tcp", "9000", "client=other"});
    ASSERT_NE(browsed(name), "");

    announcement_ = DirectServerAnnouncement::registerBonjour(1601, 8032);
    ASSERT_TRUE(announced());
    PrivateAvahi::stop(other);
    EXPECT_NE(announcement_->publishedName(), name);
    EXPECT_NE(browsed(announcement_->publishedName()).find(";8032;"), std::string::npos);
    bool logged = false;
    for (const std::string& message : log_->messages())
        logged = logged || message.starts_with("DNS-SD: the name \"" + name + "\" is taken");
    EXPECT_TRUE(logged);
}

TEST_F(DirectServerAnnouncementTest, BusThatComesBackGetsTheAnnouncement) {
    if (!startDaemon())
        GTEST_SKIP() << "No private Avahi daemon for the announcement: " << avahi_->failure();
    announcement_ = DirectServerAnnouncement::registerBonjour(1601, 8032);
    ASSERT_TRUE(announced());
    avahi_->stopDaemon();
    avahi_->stopBus();
    EXPECT_TRUE(PrivateAvahi::waitFor([this] {
        for (const std::string& message : log_->messages(LogLevel::Error)) {
            if (message.starts_with("DNS-SD announcement not possible now"))
                return true;
        }
        return false;
    }));
    EXPECT_EQ(announcement_->publishedName(), "");
    ASSERT_TRUE(avahi_->startBus());
    if (!startDaemon())
        GTEST_SKIP() << "No private Avahi daemon for the announcement: " << avahi_->failure();
    ASSERT_TRUE(PrivateAvahi::waitFor([this] { return !announcement_->publishedName().empty(); },
                                      std::chrono::seconds(20)));
    EXPECT_NE(browsed(announcement_->publishedName()), "");
}

}  // namespace
}  // namespace velmora::console
