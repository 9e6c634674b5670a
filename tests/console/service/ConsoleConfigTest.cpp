#include "console/service/ConsoleConfig.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <memory>
#include <thread>
#include <vector>

#include "console/service/ProfileSection.h"
#include "core/Deployment.h"
#include "core/xml/XmlHelpers.h"
#include "platform/CaptureLogSink.h"
#include "platform/Logger.h"
#include "tests/support/ScratchDirectory.h"
#include "tests/support/XmlTesting.h"

namespace velmora::console {
namespace {

namespace fs = std::filesystem;
using test::ScratchDirectory;
using ::testing::ElementsAre;

std::string setupText(const std::string& elements) {
    return "<?xml version=\"1.0\"?>\n<setup>" + elements + "</setup>\n";
}

// A list's section as the real lists keep it: what was handed over on loading, and an element
// with a fixed text on saving.
class RecordingSection : public ProfileSection {
  public:
    explicit RecordingSection(std::string name) : name_(std::move(name)) {}
    void updateFromConfig(pugi::xml_node section) override {
        calls.push_back(section ? test::rawXml(section) : std::string("(none)"));
    }
    void saveToConfig(pugi::xml_node root) const override {
        appendElement(appendElement(root, name_.c_str()), "entry", saved);
    }
    std::vector<std::string> calls;
    std::string saved = "value";

  private:
    std::string name_;
};

class ConsoleConfigTest : public ::testing::Test {
  protected:
    ConsoleConfigTest() : config_(scratch_.path() / "system") {
        config_.setProfileSections(printers_, jobs_);
    }

    std::unique_ptr<ConsoleConfig> loaded(const std::string& elements) {
        auto config = std::make_unique<ConsoleConfig>(scratch_.path() / "system");
        std::string error;
        EXPECT_TRUE(config->loadSetupText(setupText(elements), error)) << error;
        return config;
    }
    fs::path profileDir() const { return scratch_.path() / "system" / "alice.example"; }
    fs::path profileFile() const { return profileDir() / "config.xml"; }

    ScratchDirectory scratch_{"velmora-console-config"};
    RecordingSection printers_{"printers"};
    RecordingSection jobs_{"jobs"};
    ConsoleConfig config_;
};

TEST_F(ConsoleConfigTest, FreshSettingsHaveTheConsoleDefaults) {
    EXPECT_TRUE(config_.checkUpdates());
    EXPECT_TRUE(config_.likeMyPrinters());
    EXPECT_TRUE(config_.showDeliveryResult());
    EXPECT_TRUE(config_.jobNotifications());
    EXPECT_FALSE(config_.iconTipShown());
    EXPECT_FALSE(config_.defaultPrinterTipShown());
    EXPECT_FALSE(config_.hideMyPrinters());
    EXPECT_EQ(config_.fastCheckInterval(), 0);
    EXPECT_EQ(config_.freePages(), 0);
    EXPECT_EQ(config_.buyMoreUrl(), deployment::kWebSite);
    EXPECT_EQ(config_.getLangDir(), scratch_.path() / "system" / "lang");
}

// A missing element keeps the default; a present one decides, whatever the default was.
TEST_F(ConsoleConfigTest, BooleansKeepTheirDefaultUnlessTheFileHasThem) {
    auto absent = loaded("<token>t</token>");
    EXPECT_TRUE(absent->likeMyPrinters());
    EXPECT_TRUE(absent->checkUpdates());
    EXPECT_FALSE(absent->hideMyPrinters());

    auto flipped = loaded(
        "<like-my-printers>0</like-my-printers><check-updates>no</check-updates>"
        "<hide-my-printers>Yes</hide-my-printers><delivery-result>0</delivery-result>"
        "<job-notifications>false</job-notifications><icon-tip-shown>1</icon-tip-shown>"
        "<default-printer-tip-shown>true</default-printer-tip-shown>");
    EXPECT_FALSE(flipped->likeMyPrinters());
    EXPECT_FALSE(flipped->checkUpdates());
    EXPECT_TRUE(flipped->hideMyPrinters());
    EXPECT_FALSE(flipped->showDeliveryResult());
    EXPECT_FALSE(flipped->jobNotifications());
    EXPECT_TRUE(flipped->iconTipShown());
    EXPECT_TRUE(flipped->defaultPrinterTipShown());
}

TEST_F(ConsoleConfigTest, FastCheckIntervalAtStartUpAndThePauseItGives) {
    const struct {
        const char* element;
        int afterStartUp;
        long long pauseSeconds;
    } cases[] = {
        {"", 10, 10},
        {"<fast-check-interval>0</fast-check-interval>", 10, 10},
        {"<fast-check-interval>-3</fast-check-interval>", 10, 10},
        {"<fast-check-interval>abc</fast-check-interval>", 10, 10},
        {"<fast-check-interval>7</fast-check-interval>", 7, 7},
        {"<fast-check-interval>99999999999</fast-check-interval>", INT_MAX, 3600},
    };
    for (const auto& c : cases) {
        auto config = loaded(c.element);
        config->applyStartupDefaults();
        EXPECT_EQ(config->fastCheckInterval(), c.afterStartUp) << c.element;
        EXPECT_EQ(config->fastCheckPause().count(), c.pauseSeconds) << c.element;
    }
    // A value set later (the preferences, another thread's view) never gives a pause of zero.
    config_.setFastCheckInterval(0);
    EXPECT_EQ(config_.fastCheckPause().count(), 10);
    config_.setFastCheckInterval(INT_MIN);
    EXPECT_EQ(config_.fastCheckPause().count(), 10);
}

// The polling thread reads the interval while the preferences change it (run under the tsan
// preset this also checks that the read is not a data race).
TEST_F(ConsoleConfigTest, ThePollingThreadAlwaysSeesAUsablePause) {
    std::atomic<bool> done{false};
    std::atomic<int> unusable{0};
    std::thread poller([&] {
        while (!done) {
            const auto pause = config_.fastCheckPause();
            if (pause.count() < 1 || pause > ConsoleConfig::kLongestFastCheckPause)
                ++unusable;
        }
    });
    for (int i = 0; i < 20000; ++i)
        config_.setFastCheckInterval(i % 3 == 0 ? 0 : (i % 3 == 1 ? INT_MAX : -i));
    done = true;
    poller.join();
    EXPECT_EQ(unusable, 0);
}

TEST_F(ConsoleConfigTest, ServersAreUpgradedToHttpsWithOneLogLine) {
    auto sink = std::make_shared<CaptureLogSink>();
    auto previous = Logger::setSink(sink);
    const std::string old = "http://" + std::string(deployment::kDefaultServerHost) + ",http://" +
                            std::string(deployment::kAlternateServerHost);
    const std::string upgraded = "https://" + std::string(deployment::kDefaultServerHost) +
                                 ",https://" + std::string(deployment::kAlternateServerHost);
    auto config = loaded("<servers>" + old + "</servers>");
    Logger::setSink(previous);
    EXPECT_EQ(config->servers(), upgraded);
    std::vector<std::string> lines;
    for (const std::string& line : sink->messages()) {
        if (line.find("`servers`") != std::string::npos)
            lines.push_back(line);
    }
    EXPECT_THAT(lines, ElementsAre("ConsoleConfig: forced update `servers` key from " + old +
                                   " to " + upgraded + "."));
}

TEST_F(ConsoleConfigTest, JobFilterMatchesWholeNamesExactly) {
    EXPECT_FALSE(config_.jobFilterContains("Done"));
    EXPECT_FALSE(config_.jobFilterContains(""));
    config_.setJobFilter("Done,Rejected");
    EXPECT_TRUE(config_.jobFilterContains("Rejected"));
    EXPECT_TRUE(config_.jobFilterContains("Done"));
    EXPECT_FALSE(config_.jobFilterContains("Error"));
    EXPECT_FALSE(config_.jobFilterContains("done"));
    EXPECT_FALSE(config_.jobFilterContains("Don"));
}

// Every console setting survives the file, in the documented order after the base elements,
// including texts that look like markup.
TEST_F(ConsoleConfigTest, SetupElementsRoundTripInFileOrder) {
    config_.setServers("https://a.example,https://b.example");
    config_.setCheckUpdates(false);
    config_.setJobFilter("Done,Error");
    config_.setIconTipShown(true);
    config_.setLikeMyPrinters(false);
    config_.setHideMyPrinters(true);
    config_.setTranslation("de_DE.xml");
    config_.setPendingTranslation("fr <\"&'> .xml\nline");
    config_.setLastEmail("a@b.example");
    config_.setFastCheckInterval(42);

    pugi::xml_document document;
    pugi::xml_node root = document.append_child("setup");
    config_.saveSetupProperties(root);
    std::vector<std::string> names;
    for (pugi::xml_node child : root.children())
        names.emplace_back(child.name());
    const std::vector<std::string> tail(names.end() - 13, names.end());
    EXPECT_THAT(tail,
                ElementsAre("servers", "check-updates", "job-filter", "icon-tip-shown",
                            "default-printer-tip-shown", "like-my-printers", "hide-my-printers",
                            "delivery-result", "job-notifications", "translation",
                            "pending-translation", "last-email", "fast-check-interval"));
    EXPECT_EQ(childText(root, "check-updates"), "0");
    EXPECT_EQ(childText(root, "delivery-result"), "1");

    ConsoleConfig reread(scratch_.path() / "system");
    std::string error;
    ASSERT_TRUE(reread.loadSetupText(xmlToString(document), error)) << error;
    EXPECT_EQ(reread.servers(), config_.servers());
    EXPECT_FALSE(reread.checkUpdates());
    EXPECT_EQ(reread.jobFilter(), "Done,Error");
    EXPECT_TRUE(reread.iconTipShown());
    EXPECT_FALSE(reread.likeMyPrinters());
    EXPECT_TRUE(reread.hideMyPrinters());
    EXPECT_EQ(reread.translation(), "de_DE.xml");
    EXPECT_EQ(reread.pendingTranslation(), config_.pendingTranslation());
    EXPECT_EQ(reread.lastEmail(), "a@b.example");
    EXPECT_EQ(reread.fastCheckInterval(), 42);
}

TEST_F(ConsoleConfigTest, PendingTranslationBecomesTheActiveOne) {
    EXPECT_FALSE(config_.applyPendingTranslation());
    config_.setTranslation("en_US.xml");
    config_.setPendingTranslation("de_DE.xml");
    EXPECT_TRUE(config_.applyPendingTranslation());
    EXPECT_EQ(config_.translation(), "de_DE.xml");
    EXPECT_EQ(config_.pendingTranslation(), "");
}

TEST_F(ConsoleConfigTest, WithoutAProfileNothingTouchesTheDisk) {
    EXPECT_FALSE(config_.saveProfileConfig());
    EXPECT_FALSE(config_.loadProfileConfig());
    EXPECT_FALSE(fs::exists(scratch_.path() / "system"));
    EXPECT_TRUE(printers_.calls.empty());
}

TEST_F(ConsoleConfigTest, ProfileFileRoundTripsVersionAndSections) {
    config_.setProfile("alice.example");
    config_.setProfileConfigVersion(1601);
    printers_.saved = "p<&>";
    jobs_.saved = "j";
    ASSERT_TRUE(config_.saveProfileConfig());

    pugi::xml_document saved = test::parsedXml(ScratchDirectory::readFile(profileFile()));
    EXPECT_EQ(test::rawXml(saved.document_element()),
              "<config version=\"1601\"><printers><entry>p&lt;&amp;&gt;</entry></printers>"
              "<jobs><entry>j</entry></jobs></config>");

    RecordingSection printers("printers");
    RecordingSection jobs("jobs");
    ConsoleConfig reread(scratch_.path() / "system");
    reread.setProfileSections(printers, jobs);
    reread.setProfile("alice.example");
    ASSERT_TRUE(reread.loadProfileConfig());
    EXPECT_EQ(reread.profileConfigVersion(), 1601);
    EXPECT_THAT(printers.calls, ElementsAre("<printers><entry>p&lt;&amp;&gt;</entry></printers>"));
    EXPECT_THAT(jobs.calls, ElementsAre("<jobs><entry>j</entry></jobs>"));
}

TEST_F(ConsoleConfigTest, MissingSectionsAndBadFilesChangeNothing) {
    config_.setProfile("alice.example");
    fs::create_directories(profileDir());
    ScratchDirectory::writeFile(profileFile(), "<config><printers/></config>");
    ASSERT_TRUE(config_.loadProfileConfig());
    EXPECT_EQ(config_.profileConfigVersion(), 0);
    EXPECT_THAT(printers_.calls, ElementsAre("<printers/>"));
    EXPECT_THAT(jobs_.calls, ElementsAre("(none)"));

    printers_.calls.clear();
    jobs_.calls.clear();
    config_.setProfileConfigVersion(5);
    for (const std::string& bad :
         {std::string("<config version=\"9\"><printers>"), std::string("not xml"),
          std::string("<config version=\"9\">\xff\xfe</config>")}) {
        ScratchDirectory::writeFile(profileFile(), bad);
        EXPECT_FALSE(config_.loadProfileConfig()) << bad;
    }
    fs::remove(profileFile());
    EXPECT_FALSE(config_.loadProfileConfig());
    EXPECT_EQ(config_.profileConfigVersion(), 5);
    EXPECT_TRUE(printers_.calls.empty());
    EXPECT_TRUE(jobs_.calls.empty());
}

// The shared folder is writable by others; the profile folder is the user's alone.
TEST_F(ConsoleConfigTest, ProfileFolderIsCreatedPrivateAndNarrowedWhenOpen) {
    config_.setProfile("alice.example");
    ASSERT_TRUE(config_.saveProfileConfig());
    struct stat info {};
    ASSERT_EQ(::lstat(profileDir().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(::lstat(profileFile().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    ASSERT_EQ(::chmod(profileDir().c_str(), 0777), 0);
    ASSERT_TRUE(config_.saveProfileConfig());
    ASSERT_EQ(::lstat(profileDir().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(ConsoleConfigTest, PlantedLinksAndForeignFoldersAreRefused) {
    config_.setProfile("alice.example");
    const fs::path elsewhere = scratch_.path() / "elsewhere";
    fs::create_directories(elsewhere);
    fs::create_directories(profileDir().parent_path());

    // The profile folder is a link to a folder that another user chose.
    fs::create_directory_symlink(elsewhere, profileDir());
    ScratchDirectory::writeFile(elsewhere / "config.xml", "<config version=\"3\"/>");
    EXPECT_FALSE(config_.loadProfileConfig());
    EXPECT_FALSE(config_.saveProfileConfig());
    EXPECT_EQ(ScratchDirectory::readFile(elsewhere / "config.xml"), "<config version=\"3\"/>");
    fs::remove(profileDir());

    // The file is a link, a pipe (which must not stall the read) or too large.
    fs::create_directories(profileDir());
    fs::create_symlink(elsewhere / "config.xml", profileFile());
    EXPECT_FALSE(config_.loadProfileConfig());
    fs::remove(profileFile());
    ASSERT_EQ(::mkfifo(profileFile().c_str(), 0600), 0);
    EXPECT_FALSE(config_.loadProfileConfig());
    fs::remove(profileFile());
    ScratchDirectory::writeFile(
        profileFile(),
        "<config>" + std::string(ConsoleConfig::kMaxProfileFileSize, ' ') + "</config>");
    EXPECT_FALSE(config_.loadProfileConfig());
    EXPECT_EQ(config_.profileConfigVersion(), 0);
    EXPECT_TRUE(printers_.calls.empty());
}

TEST_F(ConsoleConfigTest, AProfileFolderOfAnotherUserIsNeitherReadNorWritten) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give a folder to another user";
    const struct passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    config_.setProfile("alice.example");
    fs::create_directories(profileDir());
    ScratchDirectory::writeFile(profileFile(), "<config version=\"3\"/>");
    ASSERT_EQ(::chown(profileDir().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    EXPECT_FALSE(config_.loadProfileConfig());
    EXPECT_EQ(config_.profileConfigVersion(), 0);
    EXPECT_FALSE(config_.saveProfileConfig());
    EXPECT_EQ(ScratchDirectory::readFile(profileFile()), "<config version=\"3\"/>");
}

}  // namespace
}  // namespace velmora::console
