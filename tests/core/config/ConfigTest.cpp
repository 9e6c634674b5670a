#include "core/config/Config.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "core/Deployment.h"
#include "core/xml/XmlHelpers.h"
#include "platform/CaptureLogSink.h"
#include "platform/Logger.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

class ScratchFolder {
  public:
    ScratchFolder() {
        std::string pattern = (fs::temp_directory_path() / "velmora-config-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

void writeFile(const fs::path& path, std::string_view text) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

std::string setupText(std::string_view elements) {
    return "<?xml version=\"1.0\"?>\n<setup>" + std::string(elements) + "</setup>\n";
}

class ConfigTest : public ::testing::Test {
  protected:
    void SetUp() override {
        systemDir = scratch.path() / "shared";
        home = scratch.path() / "home";
        config = makeConfig();
        previousSink = Logger::setSink(log);
    }
    void TearDown() override { Logger::setSink(previousSink); }

    std::unique_ptr<Config> makeConfig() const {
        auto made = std::make_unique<Config>(systemDir);
        made->setCurrentUserName("alice");
        made->setHomeFolder(home);
        return made;
    }
    fs::path setupPath(const std::string& user = "alice") const {
        return systemDir / ("setup." + user + ".xml");
    }
    // The older file is moved only for a real account, so those tests use the one they run as.
    static std::string ownName() { return Config().currentUserName(); }
    fs::path olderPath() const {
        return home / "Library" / "Application Support" / "Velmora" / "setup.xml";
    }
    bool load(Config& target, std::string_view elements) {
        writeFile(setupPath(), setupText(elements));
        std::string error;
        bool loaded = target.loadSetup("alice", error);
        EXPECT_TRUE(loaded) << error;
        return loaded;
    }

    ScratchFolder scratch;
    fs::path systemDir;
    fs::path home;
    std::unique_ptr<Config> config;
    std::shared_ptr<CaptureLogSink> log = std::make_shared<CaptureLogSink>();
    std::shared_ptr<LogSink> previousSink;
};

TEST_F(ConfigTest, SavedSettingsLoadBackUnchanged) {
    config->setToken("tok-123");
    config->setService("https://print.other.example/tdService.asmx");
    config->setProfile("alice.print.other.example");
    config->setDefaultPrinterId("PRN-77");
    config->setDefaultPaperFormat("A4");
    config->setCustomPaperWidth(1000);
    config->setCustomPaperHeight(1500);
    config->setDefaultBinCode("tray <2> & \"3\"");
    config->setEncryption(1);
    config->setEncryptionPassword("  ");  // blanks are a valid password and must survive
    config->setNotifyOnCompletion(true);
    std::string error;
    ASSERT_TRUE(config->saveSetup(error)) << error;

    auto loaded = makeConfig();
    ASSERT_TRUE(loaded->loadSetup("alice", error)) << error;
    EXPECT_EQ(loaded->token(), "tok-123");
    EXPECT_EQ(loaded->service(), "https://print.other.example/tdService.asmx");
    EXPECT_EQ(loaded->profile(), "alice.print.other.example");
    EXPECT_EQ(loaded->defaultPrinterId(), "PRN-77");
    EXPECT_EQ(loaded->defaultPaperFormat(), "A4");
    EXPECT_EQ(loaded->customPaperWidth(), 1000);
    EXPECT_EQ(loaded->customPaperHeight(), 1500);
    EXPECT_EQ(loaded->defaultBinCode(), "tray <2> & \"3\"");
    EXPECT_EQ(loaded->encryption(), 1);
    EXPECT_EQ(loaded->encryptionPassword(), "  ");
    EXPECT_TRUE(loaded->notifyOnCompletion());
    EXPECT_THAT(log->messages(LogLevel::Default),
                ElementsAre("Load setup: " + setupPath().string()));
}

TEST_F(ConfigTest, SetupFileIsPrivateAndWrittenInFixedOrder) {
    std::string error;
    ASSERT_TRUE(config->saveSetup(error)) << error;
    struct stat info {};
    ASSERT_EQ(::stat(setupPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    pugi::xml_document document;
    ASSERT_TRUE(parseXml(document, readFile(setupPath()), error)) << error;
    pugi::xml_node root = document.document_element();
    EXPECT_STREQ(root.name(), "setup");
    std::vector<std::string> names;
    for (pugi::xml_node child : root.children())
        names.emplace_back(child.name());
    EXPECT_THAT(names, ElementsAre("profile", "token", "service", "default-printer",
                                   "default-format", "custom-paperw", "custom-paperh",
                                   "default-bin", "encryption", "encryption-password", "notify"));
    EXPECT_EQ(childText(root, "service"), deployment::defaultServiceUrl());
    EXPECT_EQ(childText(root, "encryption"), "2");
    EXPECT_EQ(childText(root, "notify"), "0");
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(systemDir), fs::directory_iterator()), 1);
}

TEST_F(ConfigTest, EmptySettingsSaveEmptyElementsButAServiceAddress) {
    config->setService("");
    std::string error;
    ASSERT_TRUE(config->saveSetup(error)) << error;
    auto loaded = makeConfig();
    loaded->setToken("stale");
    loaded->setProfile("stale");
    ASSERT_TRUE(loaded->loadSetup("alice", error)) << error;
    EXPECT_EQ(loaded->token(), "");
    EXPECT_EQ(loaded->profile(), "");
    EXPECT_EQ(loaded->defaultPrinterId(), "");
    EXPECT_EQ(loaded->service(), deployment::defaultServiceUrl());
    // Widths of 0 were written and read back through the fallbacks.
    EXPECT_EQ(loaded->customPaperWidth(), 2160);
    EXPECT_EQ(loaded->customPaperHeight(), 2790);
}

TEST_F(ConfigTest, PaperSizesBelowOneFallBackToLetter) {
    for (std::string_view value : {"0", "-5", "", "abc"}) {
        auto loaded = makeConfig();
        std::string element = "<custom-paperw>" + std::string(value) + "</custom-paperw>";
        ASSERT_TRUE(load(*loaded, element));
        EXPECT_EQ(loaded->customPaperWidth(), 2160) << value;
        EXPECT_EQ(loaded->customPaperHeight(), 2790) << value;
    }
    ASSERT_TRUE(
        load(*config, "<custom-paperw>1</custom-paperw><custom-paperh> 42</custom-paperh>"));
    EXPECT_EQ(config->customPaperWidth(), 1);
    EXPECT_EQ(config->customPaperHeight(), 42);
}

TEST_F(ConfigTest, EncryptionIsReadOnlyWhenPresent) {
    EXPECT_EQ(config->encryption(), 2);
    ASSERT_TRUE(load(*config, "<token>t</token>"));
    EXPECT_EQ(config->encryption(), 2);
    config->setEncryption(1);
    ASSERT_TRUE(load(*config, "<token>t</token>"));
    EXPECT_EQ(config->encryption(), 1);
    ASSERT_TRUE(load(*config, "<encryption>0</encryption>"));
    EXPECT_EQ(config->encryption(), 0);
    ASSERT_TRUE(load(*config, "<encryption/>"));
    EXPECT_EQ(config->encryption(), 0);
}

TEST_F(ConfigTest, NotifyReadsAsABoolean) {
    struct Case {
        std::string element;
        bool expected;
    };
    for (const Case& c :
         {Case{"<notify>1</notify>", true}, Case{"<notify>true</notify>", true},
          Case{"<notify></notify>", false}, Case{"<notify>0</notify>", false}, Case{"", false}}) {
        config->setNotifyOnCompletion(!c.expected);
        ASSERT_TRUE(load(*config, c.element));
        EXPECT_EQ(config->notifyOnCompletion(), c.expected) << c.element;
    }
}

TEST_F(ConfigTest, PlainHttpToProductionHostsIsUpgradedAndLogged) {
    std::string host(deployment::kDefaultServerHost);
    std::string old = "http://" + host + "/tdService.asmx";
    ASSERT_TRUE(load(*config, "<service>" + old + "</service>"));
    std::string upgraded = "https://" + host + "/tdService.asmx";
    EXPECT_EQ(config->service(), upgraded);
    EXPECT_TRUE(log->contains(LogLevel::Default, "Config: forced update `service` key from " + old +
                                                     " to " + upgraded + "."));

    // The alternate host too; other hosts keep plain http, and nothing is logged for them.
    std::string alternate(deployment::kAlternateServerHost);
    EXPECT_EQ(Config::cleanupProductionHttpServersIn("http://" + host + ",http://" + alternate +
                                                     ",http://localhost:8080"),
              "https://" + host + ",https://" + alternate + ",http://localhost:8080");
    log->clear();
    ASSERT_TRUE(load(*config, "<service>http://localhost:8080/tdService.asmx</service>"));
    EXPECT_EQ(config->service(), "http://localhost:8080/tdService.asmx");
    EXPECT_THAT(log->messages(), ElementsAre("Load setup: " + setupPath().string()));
}

TEST_F(ConfigTest, FailedLoadsLeaveEverySettingAsItWas) {
    std::string error;
    EXPECT_FALSE(config->loadSetup("alice", error));  // no file at all
    EXPECT_THAT(error, ::testing::HasSubstr(setupPath().string()));

    for (std::string_view text :
         {"<setup><token>x</token>", "not xml", "", "<?xml version=\"1.0\"?>",
          "<setup><token>\xff\xfe</token></setup>"}) {
        auto fresh = makeConfig();
        writeFile(setupPath(), text);
        error.clear();
        EXPECT_FALSE(fresh->loadSetup("alice", error)) << text;
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(fresh->token(), "");
        EXPECT_EQ(fresh->service(), deployment::defaultServiceUrl());
        EXPECT_EQ(fresh->customPaperWidth(), 0);
        EXPECT_EQ(fresh->encryption(), 2);
        EXPECT_FALSE(fresh->notifyOnCompletion());
    }

    ASSERT_TRUE(load(*config, "<token>kept</token><custom-paperw>900</custom-paperw>"));
    writeFile(setupPath(), "<setup><token>lost</token><custom-paperw>5</custom-paperw>");
    EXPECT_FALSE(config->loadSetup("alice", error));
    EXPECT_EQ(config->token(), "kept");
    EXPECT_EQ(config->customPaperWidth(), 900);
}

TEST_F(ConfigTest, RefusesWhatIsNotASmallRegularFile) {
    fs::create_directories(systemDir);
    std::string error;
    writeFile(scratch.path() / "elsewhere.xml", setupText("<token>planted</token>"));
    fs::create_symlink(scratch.path() / "elsewhere.xml", setupPath());
    EXPECT_FALSE(config->loadSetup("alice", error));
    EXPECT_EQ(config->token(), "");

    fs::remove(setupPath());
    ASSERT_EQ(::mkfifo(setupPath().c_str(), 0600), 0);
    EXPECT_FALSE(config->loadSetup("alice", error));  // returns instead of waiting for a writer
    EXPECT_THAT(error, ::testing::HasSubstr("not a regular file"));

    fs::remove(setupPath());
    writeFile(setupPath(),
              setupText("<token>" + std::string(Config::kMaxSetupFileSize, 'x') + "</token>"));
    EXPECT_FALSE(config->loadSetup("alice", error));
    EXPECT_THAT(error, ::testing::HasSubstr("larger than"));
    EXPECT_EQ(config->token(), "");
}

TEST_F(ConfigTest, OlderPerHomeFileIsMovedOnFirstLoad) {
    const std::string user = ownName();
    writeFile(olderPath(), setupText("<token>from-home</token>"));
    ::chmod(olderPath().c_str(), 0644);
    std::string error;
    ASSERT_TRUE(config->loadSetup(user, error)) << error;
    EXPECT_EQ(config->token(), "from-home");
    EXPECT_FALSE(fs::exists(olderPath()));
    struct stat info {};
    ASSERT_EQ(::stat(setupPath(user).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(info.st_uid, ::geteuid());
    EXPECT_THAT(log->messages(),
                ElementsAre("Migrating " + olderPath().string() + " to " + setupPath(user).string(),
                            "Load setup: " + setupPath(user).string()));

    // With a setup file in place the older file is left alone.
    writeFile(olderPath(), setupText("<token>older</token>"));
    ASSERT_TRUE(config->loadSetup(user, error)) << error;
    EXPECT_EQ(config->token(), "from-home");
    EXPECT_TRUE(fs::exists(olderPath()));
}

TEST_F(ConfigTest, OlderFileThatIsALinkIsNotMigrated) {
    // A link in the user's home must not lead the loader, perhaps running as root, to move or
    // change the mode of the file it points to.
    fs::path target = scratch.path() / "system-file";
    writeFile(target, setupText("<token>not-yours</token>"));
    ::chmod(target.c_str(), 0644);
    fs::create_directories(olderPath().parent_path());
    fs::create_symlink(target, olderPath());

    std::string error;
    EXPECT_FALSE(config->loadSetup(ownName(), error));
    EXPECT_EQ(config->token(), "");
    EXPECT_FALSE(fs::exists(fs::symlink_status(setupPath(ownName()))));
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST_F(ConfigTest, OlderFileOnAnotherFileSystemIsCopiedPrivatelyAndRemoved) {
    std::error_code ec;
    struct stat shm {};
    struct stat tmp {};
    if (::stat("/dev/shm", &shm) != 0 || ::stat(scratch.path().c_str(), &tmp) != 0 ||
        shm.st_dev == tmp.st_dev || ::access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no second writable file system at /dev/shm";
    std::string pattern = "/dev/shm/velmora-home-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    home = pattern;
    config->setHomeFolder(home);
    writeFile(olderPath(), setupText("<token>across</token>"));
    ::chmod(olderPath().c_str(), 0644);

    std::string error;
    bool loaded = config->loadSetup(ownName(), error);
    bool oldGone = !fs::exists(olderPath());
    fs::remove_all(home, ec);
    ASSERT_TRUE(loaded) << error;
    EXPECT_EQ(config->token(), "across");
    EXPECT_TRUE(oldGone);
    struct stat info {};
    ASSERT_EQ(::stat(setupPath(ownName()).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// Files planted by, or belonging to, a second real account. chown needs root.
class ForeignOwnerConfigTest : public ConfigTest {
  protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root to give files to the account nobody";
        const auto account = Config::lookUpAccount("nobody");
        if (!account)
            GTEST_SKIP() << "no account nobody on this machine";
        nobody = *account;
        ConfigTest::SetUp();
    }
    void writeOwned(const fs::path& path, std::string_view text, uid_t uid, mode_t mode) const {
        writeFile(path, text);
        ASSERT_EQ(::chown(path.c_str(), uid, nobody.gid), 0);
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    }

    Config::Account nobody;
};

TEST_F(ForeignOwnerConfigTest, SetupFileIsUsedOnlyWhenItsUserOrRootOwnsItAndNoOneElseMayWrite) {
    struct Case {
        std::string user;
        bool ownedByNobody;
        mode_t mode;
        const char* refusal;  // nullptr: accepted
    };
    const std::string self = ownName();  // root
    const std::vector<Case> cases = {
        {"nobody", true, 0600, nullptr},
        {"nobody", false, 0644, nullptr},
        {self, true, 0644, "belongs to another account"},
        {"alice-unknown", true, 0644, "belongs to another account"},
        {"nobody", true, 0666, "may be written by other accounts"},
        {"nobody", false, 0664, "may be written by other accounts"},
        {self, false, 0646, "may be written by other accounts"},
    };
    for (const Case& c : cases) {
        const std::string label =
            c.user + (c.ownedByNobody ? " by nobody " : " by root ") + std::to_string(c.mode);
        fs::remove(setupPath(c.user));
        writeOwned(setupPath(c.user), setupText("<token>planted</token>"),
                   c.ownedByNobody ? nobody.uid : 0, c.mode);
        auto fresh = makeConfig();
        std::string error;
        const bool loaded = fresh->loadSetup(c.user, error);
        if (c.refusal == nullptr) {
            EXPECT_TRUE(loaded) << label << ": " << error;
            EXPECT_EQ(fresh->token(), "planted") << label;
        } else {
            EXPECT_FALSE(loaded) << label;
            EXPECT_THAT(error, ::testing::HasSubstr(c.refusal)) << label;
            EXPECT_EQ(fresh->token(), "") << label;
        }
    }

    // Root's own setup given a second name as somebody else's.
    writeOwned(setupPath(self), setupText("<token>roots</token>"), 0, 0600);
    fs::remove(setupPath("nobody"));
    fs::create_hard_link(setupPath(self), setupPath("nobody"));
    std::string error;
    EXPECT_FALSE(config->loadSetup("nobody", error));
    EXPECT_THAT(error, ::testing::HasSubstr("has 2 names"));
    EXPECT_EQ(config->token(), "");
}

TEST_F(ForeignOwnerConfigTest, OnlyTheUsersOwnOlderFileIsMovedAndItStaysTheirs) {
    // Another account's file in the home, and one with a second name elsewhere, stay put.
    const std::string self = ownName();
    writeOwned(olderPath(), setupText("<token>nobodys</token>"), nobody.uid, 0644);
    std::string error;
    EXPECT_FALSE(config->loadSetup(self, error));
    EXPECT_TRUE(fs::exists(olderPath()));
    EXPECT_FALSE(fs::exists(fs::symlink_status(setupPath(self))));

    fs::remove(olderPath());
    writeOwned(scratch.path() / "elsewhere.xml", setupText("<token>linked</token>"), 0, 0644);
    fs::create_hard_link(scratch.path() / "elsewhere.xml", olderPath());
    EXPECT_FALSE(config->loadSetup(self, error));
    EXPECT_TRUE(fs::exists(olderPath()));
    EXPECT_FALSE(fs::exists(fs::symlink_status(setupPath(self))));

    // Moved for its own user by root, the file is handed to that user.
    fs::remove(olderPath());
    writeOwned(olderPath(), setupText("<token>nobody-token</token>"), nobody.uid, 0644);
    ASSERT_TRUE(config->loadSetup("nobody", error)) << error;
    EXPECT_EQ(config->token(), "nobody-token");
    EXPECT_FALSE(fs::exists(olderPath()));
    struct stat info {};
    ASSERT_EQ(::lstat(setupPath("nobody").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, nobody.uid);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
}

TEST_F(ConfigTest, OlderFileBehindALinkedFolderIsNotMigrated) {
    // The user points a folder on the way at someone else's folder that holds a setup file; the
    // move must not reach through it.
    const std::string self = ownName();
    const fs::path victim = scratch.path() / "victim-home";
    const fs::path victimFile = victim / "Application Support" / "Velmora" / "setup.xml";
    writeFile(victimFile, setupText("<token>victims</token>"));
    fs::create_directories(home);
    fs::create_directory_symlink(victim, home / "Library");
    std::string error;
    EXPECT_FALSE(config->loadSetup(self, error));
    EXPECT_EQ(config->token(), "");
    EXPECT_THAT(log->messages(), ::testing::Contains("Not migrating " + olderPath().string() +
                                                     ": a folder on the way is a link"));
    EXPECT_TRUE(fs::exists(victimFile));
    EXPECT_FALSE(fs::exists(fs::symlink_status(setupPath(self))));

    // The same with the last folder linked.
    fs::remove(home / "Library");
    fs::create_directories(home / "Library" / "Application Support");
    fs::create_directory_symlink(victimFile.parent_path(),
                                 home / "Library" / "Application Support" / "Velmora");
    EXPECT_FALSE(config->loadSetup(self, error));
    EXPECT_TRUE(fs::exists(victimFile));
    EXPECT_FALSE(fs::exists(fs::symlink_status(setupPath(self))));
}

TEST_F(ConfigTest, UserAndProfileNamesCannotLeaveTheSharedFolder) {
    writeFile(scratch.path() / "setup.x.xml", setupText("<token>outside</token>"));
    for (std::string name : std::vector<std::string>{"../x", "a/b", "", ".", "..", "a\nb"}) {
        std::string error;
        EXPECT_FALSE(config->loadSetup(name, error)) << name;
        EXPECT_THAT(error, ::testing::HasSubstr("Invalid user name"));
        EXPECT_TRUE(config->getMessageFileNameForUser(name).empty());
        EXPECT_TRUE(config->getSetupFileNameForUser(name).empty());
    }
    EXPECT_EQ(config->token(), "");

    config->setCurrentUserName("../escape");
    std::string error;
    EXPECT_FALSE(config->saveSetup(error));
    EXPECT_FALSE(fs::exists(scratch.path() / "setup.escape.xml"));

    config->setProfile("../../etc");
    EXPECT_TRUE(config->getProfileDir().empty());
    config->setProfile("");
    EXPECT_TRUE(config->getProfileDir().empty());
    config->setProfile("bob.service.example");
    EXPECT_EQ(config->getProfileDir(), systemDir / "bob.service.example");
    config->setCurrentUserName("bob");
    EXPECT_EQ(config->getPPDFileName(), systemDir / "Velmora.bob.ppd");
    config->setCurrentUserName("../bob");
    EXPECT_TRUE(config->getPPDFileName().empty());
    EXPECT_EQ(config->getMessageFileNameForUser("bob"), systemDir / "messages.bob.txt");
    EXPECT_EQ(config->getSetupFileNameForUser("bob smith"), systemDir / "setup.bob smith.xml");
}

TEST_F(ConfigTest, SaveCreatesTheFolderOrFailsWithoutWriting) {
    systemDir = scratch.path() / "a" / "b" / "c";
    config->setSystemDir(systemDir);
    std::string error;
    ASSERT_TRUE(config->saveSetup(error)) << error;
    EXPECT_TRUE(fs::is_regular_file(setupPath()));

    writeFile(scratch.path() / "plain-file", "x");
    config->setSystemDir(scratch.path() / "plain-file" / "sub");
    EXPECT_FALSE(config->saveSetup(error));
    EXPECT_THAT(error, ::testing::HasSubstr("plain-file"));
}

// The console's settings extend the same file; this stands in for such a subclass.
class ExtendedConfig : public Config {
  public:
    using Config::Config;
    void loadSetupProperties(pugi::xml_node root) override {
        Config::loadSetupProperties(root);
        filter_ = childText(root, "job-filter");
    }
    void saveSetupProperties(pugi::xml_node root) const override {
        Config::saveSetupProperties(root);
        appendElement(root, "job-filter", filter_);
    }
    std::string jobFilter() const override { return filter_; }
    void setJobFilter(std::string filter) { filter_ = std::move(filter); }

  private:
    std::string filter_;
};

TEST_F(ConfigTest, SubclassElementsFollowTheBaseOnesAndDriveTheJobFilter) {
    EXPECT_FALSE(config->jobFilterContains("Done"));
    EXPECT_FALSE(config->jobFilterContains(""));

    ExtendedConfig extended(systemDir);
    extended.setCurrentUserName("alice");
    extended.setJobFilter("Done,Rejected");
    std::string error;
    ASSERT_TRUE(extended.saveSetup(error)) << error;
    pugi::xml_document document;
    ASSERT_TRUE(parseXml(document, readFile(setupPath()), error));
    EXPECT_STREQ(document.document_element().last_child().name(), "job-filter");

    ExtendedConfig loaded(systemDir);
    ASSERT_TRUE(loaded.loadSetup("alice", error)) << error;
    EXPECT_TRUE(loaded.jobFilterContains("Rejected"));
    EXPECT_TRUE(loaded.jobFilterContains("Done"));
    EXPECT_FALSE(loaded.jobFilterContains("Error"));
    EXPECT_FALSE(loaded.jobFilterContains("done"));
    EXPECT_FALSE(loaded.jobFilterContains("Done,Rejected"));
    EXPECT_FALSE(loaded.jobFilterContains(""));
}

}  // namespace
}  // namespace velmora
