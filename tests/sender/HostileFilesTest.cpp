// The sender against what a hostile local user can leave in its folders: links and second names
// in place of pages and of the sender's own files, spool folders that are links, another
// account's or open to everyone, and a service whose error text is huge and not UTF-8.
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "core/config/Config.h"
#include "tests/sender/SenderFixture.h"
#include "tests/support/LoopbackHttpServer.h"

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

std::optional<Config::Account> nobodyAccount() {
    return Config::lookUpAccount("nobody");
}

// Why a test that hands files to the second account cannot run here; empty when it can.
std::string cannotUseNobody() {
    if (::geteuid() != 0)
        return "needs root to give files to the account nobody";
    if (!nobodyAccount())
        return "no account nobody on this machine";
    return {};
}

void giveTo(const fs::path& path, const Config::Account& account) {
    ASSERT_EQ(::lchown(path.c_str(), account.uid, account.gid), 0) << path;
}

class HostileSpoolTest : public SenderFixture {
  protected:
    HostileSpoolTest() {
        ScratchDirectory::writeFile(secretPath(), kSecret);
        ::chmod(spoolDir().c_str(), 0700);
    }

    // Pages prepared and sent to a stand-in upload address, as the delivery does.
    bool sendPages(std::string& error, const std::string& spoolSuffix = "") {
        Sender sender(options({{"SpoolDir", spoolDir().string() + spoolSuffix}}), systemDir());
        sender.config().setToken(kToken);
        sender.job().setPacked(true);
        sender.job().setEncryption(0);
        int pageCount = 0;
        return sender.sendPages(1001, "", server_.url("/tdUpload.aspx?job=1001"), pageCount, error);
    }
    std::string path(const std::string& name) const { return (spoolDir() / name).string(); }
    fs::path secretPath() const { return scratch_ / "secret"; }
    bool secretWasSent() const {
        for (const auto& request : server_.requests()) {
            if (gunzip(request.body).find(kSecret) != std::string::npos)
                return true;
        }
        return false;
    }

    static constexpr const char* kSecret = "root:$6$not-for-the-service";
    LoopbackHttpServer server_{[](const auto&) { return LoopbackHttpServer::Reply{}; }};
};

TEST_F(HostileSpoolTest, APageThatIsALinkOrASecondNameOfAnotherFileIsNeverRead) {
    const std::vector<std::pair<std::string, std::function<void(const fs::path&)>>> plants = {
        {"symbolic link", [&](const fs::path& page) { fs::create_symlink(secretPath(), page); }},
        {"hard link", [&](const fs::path& page) { fs::create_hard_link(secretPath(), page); }},
    };
    for (const auto& [kind, plant] : plants) {
        fs::remove_all(spoolDir());
        fs::create_directory(spoolDir());
        writePage("1.bmp", 100);
        plant(spoolDir() / "2.bmp");
        std::string error;
        EXPECT_FALSE(sendPages(error)) << kind;
        EXPECT_EQ(error, "Failed to copy " + path("2.bmp") + " to " + path("2.bmp.enc")) << kind;
        EXPECT_FALSE(fs::exists(spoolDir() / "2.bmp.enc")) << kind;
        EXPECT_TRUE(server_.requests().empty()) << kind;
        EXPECT_FALSE(secretWasSent()) << kind;
    }
}

TEST_F(HostileSpoolTest, LinksPlantedAtTheSendersOwnNamesAreNeitherFollowedNorRemoved) {
    const std::string victim = "the victim's file";
    const struct {
        const char* name;
        const char* failure;
    } plants[] = {{"1.bmp.enc", "Failed to copy "}, {"1.bmp.tmp", "Failed to zip "}};
    for (const auto& plant : plants) {
        for (bool dangling : {false, true}) {
            const std::string label = std::string(plant.name) + (dangling ? " dangling" : "");
            fs::remove_all(spoolDir());
            fs::create_directory(spoolDir());
            ScratchDirectory::writeFile(scratch_ / "victim", victim);
            fs::remove(scratch_ / "made-through-link");
            writePage("1.bmp", 5000);
            const fs::path target = scratch_ / (dangling ? "made-through-link" : "victim");
            fs::create_symlink(target, spoolDir() / plant.name);

            std::string error;
            EXPECT_FALSE(sendPages(error)) << label;
            EXPECT_EQ(error.rfind(plant.failure, 0), 0u) << label << ": " << error;
            EXPECT_EQ(ScratchDirectory::readFile(scratch_ / "victim"), victim) << label;
            EXPECT_FALSE(fs::exists(fs::symlink_status(scratch_ / "made-through-link"))) << label;
            EXPECT_TRUE(fs::is_symlink(spoolDir() / plant.name)) << label;
            EXPECT_TRUE(server_.requests().empty()) << label;
        }
    }
}

TEST_F(HostileSpoolTest, TheSpoolFolderMustBeARealFolderNoOtherAccountMayWrite) {
    const fs::path real = scratch_ / "real-folder";
    fs::create_directory(real);
    ::chmod(real.c_str(), 0700);
    ScratchDirectory::writeFile(real / "1.bmp", "a page of someone else's");
    const struct {
        const char* label;
        std::function<void()> make;
        const char* reason;
    } cases[] = {
        {"link to a folder",
         [&] {
             fs::remove_all(spoolDir());
             fs::create_directory_symlink(real, spoolDir());
         },
         "is not a folder (a link is not accepted)"},
        {"writable by everyone", [&] { ::chmod(spoolDir().c_str(), 0777); },
         "may be written by other accounts"},
        {"writable by its group", [&] { ::chmod(spoolDir().c_str(), 0770); },
         "may be written by other accounts"},
    };
    for (const auto& c : cases) {
        // Spellings of the same folder that make the system resolve its last name as a folder.
        for (const char* ending : {"", "/", "/.", "/./", "//.//"}) {
            fs::remove_all(spoolDir());
            fs::create_directory(spoolDir());
            ::chmod(spoolDir().c_str(), 0700);
            writePage("1.bmp", 100);
            c.make();
            std::string error;
            EXPECT_FALSE(sendPages(error, ending)) << c.label << ending;
            EXPECT_NE(error.find(c.reason), std::string::npos) << c.label << ": " << error;
            EXPECT_FALSE(fs::exists(spoolDir() / "1.bmp.enc")) << c.label;
            EXPECT_FALSE(fs::exists(real / "1.bmp.enc")) << c.label;
            EXPECT_TRUE(server_.requests().empty()) << c.label;
        }
    }

    // ".." after a link names the parent of wherever the link leads.
    fs::create_directory(real / "inner");
    fs::remove_all(spoolDir());
    fs::create_directory(spoolDir());
    ::chmod(spoolDir().c_str(), 0700);
    fs::create_directory_symlink(real / "inner", spoolDir() / "link");
    std::string error;
    EXPECT_FALSE(sendPages(error, "/link/.."));
    EXPECT_NE(error.find("names a folder by way of \"..\""), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(real / "1.bmp.enc"));
    EXPECT_TRUE(server_.requests().empty());
}

TEST_F(HostileSpoolTest, AFolderOrPageOfAnotherAccountIsRefused) {
    if (const std::string why = cannotUseNobody(); !why.empty())
        GTEST_SKIP() << why;
    const Config::Account nobody = *nobodyAccount();
    writePage("1.bmp", 100);
    giveTo(spoolDir(), nobody);
    std::string error;
    EXPECT_FALSE(sendPages(error));
    EXPECT_NE(error.find("belongs to another account"), std::string::npos) << error;

    giveTo(spoolDir(), Config::Account{});  // back to root
    writePage("2.bmp", 100);
    giveTo(spoolDir() / "2.bmp", nobody);
    EXPECT_FALSE(sendPages(error));
    EXPECT_EQ(error, "Failed to copy " + path("2.bmp") + " to " + path("2.bmp.enc"));
    EXPECT_TRUE(server_.requests().empty());
}

TEST_F(HostileSpoolTest, RunAsAnotherAccountTheSenderAcceptsOnlyThatAccountsPages) {
    if (const std::string why = cannotUseNobody(); !why.empty())
        GTEST_SKIP() << why;
    const Config::Account nobody = *nobodyAccount();
    // nobody must be able to reach its spool folder inside the scratch folder.
    ::chmod(scratch_.path().c_str(), 0711);
    ::chmod(spoolDir().parent_path().c_str(), 0711);
    giveTo(spoolDir(), nobody);
    writePage("1.bmp", 100);
    giveTo(spoolDir() / "1.bmp", nobody);
    writePage("2.bmp", 100);  // root's, and readable by everyone
    ::chmod((spoolDir() / "2.bmp").c_str(), 0644);

    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(report[0]);
        std::string error = "could not become nobody";
        if (::setgroups(0, nullptr) == 0 && ::setgid(nobody.gid) == 0 &&
            ::setuid(nobody.uid) == 0) {
            error.clear();
            sendPages(error);
        }
        [[maybe_unused]] const ssize_t written = ::write(report[1], error.data(), error.size());
        ::_exit(0);
    }
    ::close(report[1]);
    std::string error;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(report[0], buffer, sizeof buffer)) > 0)
        error.append(buffer, static_cast<size_t>(got));
    ::close(report[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);

    EXPECT_EQ(error, "Failed to copy " + path("2.bmp") + " to " + path("2.bmp.enc"));
    // Its own page it prepared, as its own file.
    struct stat prepared {};
    ASSERT_EQ(::lstat((spoolDir() / "1.bmp.enc").c_str(), &prepared), 0);
    EXPECT_EQ(prepared.st_uid, nobody.uid);
    EXPECT_EQ(prepared.st_mode & 07777, 0600u);
    EXPECT_FALSE(fs::exists(spoolDir() / "2.bmp.enc"));
    EXPECT_TRUE(server_.requests().empty());
}

TEST_F(HostileSpoolTest, AFolderSwappedInUnderTheSpoolPathDuringTheUploadIsNotRead) {
    const fs::path decoy = scratch_ / "decoy";
    fs::create_directory(decoy);
    fs::create_symlink(secretPath(), decoy / "2.bmp.enc");
    writePage("1.bmp", 100);
    const std::string page2 = writePage("2.bmp", 100, 2);
    // Once the first page is in, the path is made to name another folder.
    server_.setHandler([this, decoy](const LoopbackHttpServer::Request&) {
        if (fs::exists(decoy)) {
            fs::rename(spoolDir(), scratch_ / "moved-away");
            fs::rename(decoy, spoolDir());
        }
        return LoopbackHttpServer::Reply{};
    });
    std::string error;
    EXPECT_TRUE(sendPages(error)) << error;
    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].body.find(kSecret), std::string::npos);
    EXPECT_EQ(gunzip(requests[1].body), page2);
}

// A service whose error text is the message: what it sends must not decide the file's size,
// encoding or readers.
class HostileMessageTest : public SenderFixture {
  protected:
    void answerLoginWith(std::string message) {
        service_.setHandler([message](const LoopbackHttpServer::Request&) {
            LoopbackHttpServer::Reply reply;
            reply.body =
                "<?xml version=\"1.0\" encoding=\"utf-8\"?><Envelope><Body><r>"
                "<response success=\"false\"><message>" +
                message + "</message></response></r></Body></Envelope>";
            return reply;
        });
        Setup setup;
        setup.service = service_.url("/tdService.asmx");
        writeSetup(setup);
    }
    std::string runSender(const std::string& user = "alice") {
        Sender sender(options({{"User", user}}), systemDir());
        sender.run();
        return message(user);
    }

    LoopbackHttpServer service_{[](const auto&) { return LoopbackHttpServer::Reply{}; }};
};

TEST_F(HostileMessageTest, AHugeErrorTextNotInUtf8IsCutToBoundValidText) {
    constexpr size_t kRoom = Sender::kMaxMessageBytes - 3;  // before the closing "…"
    const std::string ellipsis = "\xE2\x80\xA6";
    const std::string replacement = "\xEF\xBF\xBD";
    const struct {
        const char* label;
        std::string sent;
        std::string expected;
    } cases[] = {
        {"stray bytes and a forged title",
         "Refused \xFF\xC3 here/phTitCall us now " + std::string(3 << 20, 'x'),
         [&] {
             const std::string head =
                 "Refused " + replacement + replacement + " here/ phTitCall us now ";
             return head + std::string(kRoom - head.size(), 'x') + ellipsis;
         }()},
        {"a cut inside a character",
         [] {
             std::string text = "Rx";
             for (int i = 0; i < 5000; ++i)
                 text += "\xC3\xA9";
             return text;
         }(),
         [&] {
             std::string text = "Rx";
             while (text.size() + 2 <= kRoom)
                 text += "\xC3\xA9";
             return text + ellipsis;
         }()},
        {"a short text stays as it is", "Session expired", "Session expired"},
    };
    for (const auto& c : cases) {
        answerLoginWith(c.sent);
        writePage("1.bmp", 100);
        EXPECT_EQ(runSender(), c.expected) << c.label;
        EXPECT_LE(message().size(), Sender::kMaxMessageBytes) << c.label;
    }
}

TEST_F(HostileMessageTest, TheMessageFileIsTheUsersAloneEvenWhenALinkOrAnOpenFileWasThere) {
    if (const std::string why = cannotUseNobody(); !why.empty())
        GTEST_SKIP() << why;
    const Config::Account nobody = *nobodyAccount();
    // No setup for nobody: the run ends with the not-logged message, for nobody to read.
    ScratchDirectory::writeFile(scratch_ / "victim", "unchanged");
    fs::create_symlink(scratch_ / "victim", messageFile("nobody"));
    writePage("1.bmp", 100);
    EXPECT_EQ(runSender("nobody"), Sender::kNotLoggedMessage);
    struct stat info {};
    ASSERT_EQ(::lstat(messageFile("nobody").c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_uid, nobody.uid);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(ScratchDirectory::readFile(scratch_ / "victim"), "unchanged");

    // An earlier file readable by everyone is replaced by a private one.
    ::chmod(messageFile("nobody").c_str(), 0644);
    runSender("nobody");
    ASSERT_EQ(::lstat(messageFile("nobody").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(info.st_uid, nobody.uid);
}

}  // namespace
}  // namespace velmora::test
