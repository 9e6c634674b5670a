#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cups/cups.h>

#include <future>
#include <optional>

#include "console/jobs/LegacyPpd.h"
#include "console/remote/LpadminCommand.h"
#include "console/remote/PpdGenerator.h"
#include "console/remote/QueueHelper.h"
#include "console/remote/VirtualPrinter.h"
#include "core/config/Config.h"
#include "core/model/RemotePrinterArray.h"
#include "platform/CaptureLogSink.h"
#include "platform/Logger.h"
#include "tests/support/PrivateCupsd.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora::console {
namespace {

namespace fs = std::filesystem;
using test::PrivateCupsd;
using test::ScratchDirectory;

constexpr const char* kVersion = "1.6.1";

// A queue as the scheduler reports it over IPP, independent of the code under test.
struct Facts {
    bool exists = false;
    std::string info;
    std::string deviceUri;
    bool shared = true;
    std::string policy;
    bool hasDefaultDuplex = false;
    std::string defaultPageSize;
};

// One private scheduler for the suite, with our backend and our policy; every test starts
// from no queues and a shared folder holding both PPDs.
class VirtualPrinterTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        PrivateCupsd::Options options;
        options.extraConfig = ScratchDirectory::readFile(VELMORA_QUEUE_POLICY_FILE);
        options.backends = {{"velmora", VELMORA_BACKEND_PATH}};
        cupsd_ = std::make_unique<PrivateCupsd>(options);
    }
    static void TearDownTestSuite() { cupsd_.reset(); }

    void SetUp() override {
        if (!cupsd_->running())
            GTEST_SKIP() << "No private CUPS scheduler for this test: " << cupsd_->failure();
        previousSink_ = Logger::setSink(log_);
        ::chmod(scratch_.path().c_str(), 0755);
        fs::create_directories(systemDir());
        writeGeneratedPpd("Letter");
        ScratchDirectory::writeFile(versionFile(), kVersion);
    }
    void TearDown() override {
        if (!cupsd_->running())
            return;
        Logger::setSink(previousSink_);
        for (const std::string& queue : queueNames())
            cupsd_->command({"lpadmin", "-x", queue});
    }

    fs::path systemDir() const { return scratch_ / "system"; }
    fs::path versionFile() const {
        return systemDir() / ("ppd_version." + Config(systemDir()).currentUserName());
    }

    // The PPD of the process's user, whose default remote printer offers `paperFormat` only.
    static bool generatePpd(const fs::path& systemDir, const std::string& paperFormat,
                            std::string& error) {
        pugi::xml_document document;
        document.load_string(
            ("<favorites><printer><public-id>p1</public-id><details><paper-formats>"
             "<paper name=\"" +
             paperFormat + "\" format=\"" + paperFormat +
             "\" width=\"2100\" height=\"2970\"/></paper-formats></details></printer></favorites>")
                .c_str());
        RemotePrinterArray printers;
        printers.parse(document.child("favorites"), false);
        Config config(systemDir);
        return PpdGenerator::generatePPDFile(config, printers, error);
    }

    void writeGeneratedPpd(const std::string& paperFormat) {
        std::string error;
        ASSERT_TRUE(generatePpd(systemDir(), paperFormat, error)) << error;
    }

    // generatePpd() in a child process that runs as `user`, the way that user's console would;
    // "" when it was written, else why not.
    std::string generatePpdAs(const std::string& user, const std::string& paperFormat) const {
        const std::optional<Config::Account> account = Config::lookUpAccount(user);
        if (!account)
            return "no account " + user;
        int report[2];
        if (::pipe(report) != 0)
            return "no pipe";
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(report[0]);
            std::string error = "could not become " + user;
            if (::setgroups(0, nullptr) == 0 && ::setgid(account->gid) == 0 &&
                ::setuid(account->uid) == 0 && generatePpd(systemDir(), paperFormat, error))
                error.clear();
            [[maybe_unused]] const ssize_t written = ::write(report[1], error.data(), error.size());
            ::_exit(0);
        }
        ::close(report[1]);
        std::string error;
        char buffer[4096];
        for (ssize_t got; (got = ::read(report[0], buffer, sizeof buffer)) > 0;)
            error.append(buffer, static_cast<size_t>(got));
        ::close(report[0]);
        int status = 0;
        if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
            return "the child for " + user + " did not finish";
        return error;
    }

    VirtualPrinter::Settings settings() const {
        VirtualPrinter::Settings settings;
        settings.changer.lpadmin.server = cupsd_->socketPath();
        settings.changer.lpadmin.systemDir = systemDir();
        settings.changer.lpadmin.duplexPpd = VELMORA_DUPLEX_PPD;
        settings.changer.lpadmin.opPolicy = "velmora";
        settings.appVersion = kVersion;
        return settings;
    }

    static std::vector<std::string> queueNames() {
        std::vector<std::string> names;
        const auto listed = cupsd_->command({"lpstat", "-e"});
        std::istringstream in(listed.standardOutput);
        for (std::string line; std::getline(in, line);)
            names.push_back(line);
        return names;
    }

    static Facts facts(const std::string& queue) {
        Facts facts;
        http_t* http = httpConnect2(cupsd_->socketPath().c_str(), ippPort(), nullptr, AF_UNSPEC,
                                    HTTP_ENCRYPTION_IF_REQUESTED, 1, 30000, nullptr);
        if (http == nullptr)
            return facts;
        ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
        const std::string uri = "ipp://localhost/printers/" + queue;
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
        ipp_t* response = cupsDoRequest(http, request, "/");
        if (response != nullptr && ippGetStatusCode(response) <= IPP_STATUS_OK_EVENTS_COMPLETE) {
            facts.exists = true;
            const auto text = [&](const char* name) {
                ipp_attribute_t* attribute = ippFindAttribute(response, name, IPP_TAG_ZERO);
                const char* value = attribute ? ippGetString(attribute, 0, nullptr) : nullptr;
                return std::string(value ? value : "");
            };
            facts.info = text("printer-info");
            facts.deviceUri = text("device-uri");
            facts.policy = text("printer-op-policy");
            ipp_attribute_t* shared =
                ippFindAttribute(response, "printer-is-shared", IPP_TAG_BOOLEAN);
            facts.shared = shared != nullptr && ippGetBoolean(shared, 0);
            const auto ppd = LegacyPpd::read(http, queue);
            facts.hasDefaultDuplex = ppd && ppd->hasDefaultDuplex;
        }
        ippDelete(response);
        httpClose(http);
        facts.defaultPageSize = ppdDefault(queue, "*DefaultPageSize:");
        return facts;
    }

    static std::string ppdDefault(const std::string& queue, const std::string& key) {
        const std::string text =
            ScratchDirectory::readFile(cupsd_->serverRoot() / "ppd" / (queue + ".ppd"));
        const size_t at = text.find(key);
        if (at == std::string::npos)
            return "";
        const size_t start = text.find_first_not_of(' ', at + key.size());
        return text.substr(start, text.find('\n', start) - start);
    }

    // Our queue as the console makes it, for the tests that start from one.
    void addOurs(const std::string& id, const std::string& title, bool duplex = false) {
        VirtualPrinter printer(settings());
        printer.compareSharedAndVirtual({{id, title, true, duplex}});
        printer.waitUntilIdle();
        ASSERT_TRUE(facts("Velmora_" + id).exists) << log_->messages().size();
    }

    // An administrator's own queue that merely looks like one of ours.
    static void addForeign(const std::string& name, const std::string& info) {
        const auto added = cupsd_->command(
            {"lpadmin", "-p", name, "-E", "-v", "file:///dev/null", "-m", "raw", "-D", info});
        ASSERT_EQ(added.exitStatus, 0) << added.standardError;
    }

    // Submits a job that stays held, so that it never reaches a backend.
    static std::string heldJob(const std::string& queue, std::vector<std::string> prefix = {},
                               std::vector<std::string> options = {}) {
        ::chmod(scratch_path().c_str(), 0755);
        const fs::path file = scratch_path() / "job.txt";
        ScratchDirectory::writeFile(file, "page\n");
        ::chmod(file.c_str(), 0644);
        std::vector<std::string> arguments = prefix;
        arguments.insert(arguments.end(), {"lp", "-H", "hold", "-d", queue});
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.push_back(file.string());
        const auto submitted = cupsd_->command(arguments);
        return submitted.exitStatus == 0 ? submitted.standardOutput : "";
    }
    static fs::path scratch_path() { return suiteScratch_.path(); }

    static std::vector<std::string> jobsOn(const std::string& queue) {
        const auto listed = cupsd_->command({"lpstat", "-o", queue});
        std::vector<std::string> jobs;
        std::istringstream in(listed.standardOutput);
        for (std::string line; std::getline(in, line);)
            jobs.push_back(line.substr(0, line.find(' ')));
        return jobs;
    }

    static inline std::unique_ptr<PrivateCupsd> cupsd_;
    static inline ScratchDirectory suiteScratch_{"velmora-jobs"};
    ScratchDirectory scratch_{"velmora-queues"};
    std::shared_ptr<CaptureLogSink> log_ = std::make_shared<CaptureLogSink>();
    std::shared_ptr<LogSink> previousSink_;
};

TEST_F(VirtualPrinterTest, OnlineRemotePrintersGetUnsharedQueuesOfTheirKind) {
    VirtualPrinter printer(settings());
    printer.compareSharedAndVirtual({{"abc", "Office", true, false},
                                     {"def", "Laser", true, true},
                                     {"off", "Away", false, false}});
    printer.waitUntilIdle();

    const Facts office = facts("Velmora_abc");
    EXPECT_TRUE(office.exists);
    EXPECT_EQ(office.info, "Office (Velmora)");
    EXPECT_EQ(office.deviceUri, "velmora:/");
    EXPECT_FALSE(office.shared);
    EXPECT_EQ(office.policy, "velmora");
    EXPECT_FALSE(office.hasDefaultDuplex);
    const Facts laser = facts("Velmora_def");
    EXPECT_TRUE(laser.exists);
    EXPECT_EQ(laser.info, "Laser (Velmora)");
    EXPECT_TRUE(laser.hasDefaultDuplex);
    EXPECT_FALSE(laser.shared);
    EXPECT_FALSE(facts("Velmora_off").exists);
    EXPECT_TRUE(log_->contains(LogLevel::Default, "add printer: abc"));

    std::vector<std::string> listed;
    for (const auto& entry : printer.getPrintersFromSettings())
        listed.push_back(entry.printerID + "=" + entry.printerName);
    EXPECT_EQ(listed, (std::vector<std::string>{"Velmora_abc=Office (Velmora)",
                                                "Velmora_def=Laser (Velmora)"}));
    EXPECT_EQ(printer.getPrinterDescription("velmora_ABC"), "Office (Velmora)");
    EXPECT_EQ(printer.getPrinterDescription("Velmora_none"), "error");
    EXPECT_TRUE(printer.isDuplexPrinter("Velmora_def"));
    EXPECT_FALSE(printer.isDuplexPrinter("Velmora_abc"));
}

TEST_F(VirtualPrinterTest, ARenamedShareRenamesTheQueuesDescriptionOnly) {
    addOurs("abc", "Office");
    const std::string job = heldJob("Velmora_abc");
    ASSERT_NE(job, "");
    VirtualPrinter printer(settings());
    printer.compareSharedAndVirtual({{"abc", "Front Desk", true, false}});
    printer.waitUntilIdle();
    EXPECT_EQ(facts("Velmora_abc").info, "Front Desk (Velmora)");
    EXPECT_EQ(jobsOn("Velmora_abc").size(), 1u);
    EXPECT_TRUE(log_->contains(LogLevel::Default, "update printer name"));
}

// Looking the queue up by its description made every refresh remove and re-add duplex queues,
// cancelling what was waiting on them; the PPD is now switched in place, both ways.
TEST_F(VirtualPrinterTest, ADuplexChangeSwitchesThePpdAndKeepsPendingJobs) {
    addOurs("abc", "Office");
    ASSERT_NE(heldJob("Velmora_abc"), "");
    log_->clear();
    VirtualPrinter printer(settings());
    for (bool duplex : {true, true, false, false}) {
        printer.compareSharedAndVirtual({{"abc", "Office", true, duplex}});
        printer.waitUntilIdle();
        const Facts office = facts("Velmora_abc");
        EXPECT_EQ(office.hasDefaultDuplex, duplex);
        EXPECT_FALSE(office.shared);
        EXPECT_EQ(jobsOn("Velmora_abc").size(), 1u) << "duplex " << duplex;
    }
    EXPECT_FALSE(log_->contains(LogLevel::Default, "add printer: abc"));
}

TEST_F(VirtualPrinterTest, RemovesOneQueueOrAllOfOursAndNothingElse) {
    addOurs("abc", "Office");
    addOurs("def", "Laser", true);
    addOurs("ghi", "Hall");
    addForeign("Velmora_adm", "Administrator's");
    addForeign("Office_Velmora_x", "Contains our prefix");
    VirtualPrinter printer(settings());
    std::promise<bool> removed;
    printer.removeVirtualPrinter("Velmora_abc", [&](bool done) { removed.set_value(done); });
    EXPECT_TRUE(removed.get_future().get());
    EXPECT_FALSE(facts("Velmora_abc").exists);

    std::promise<bool> refused;
    printer.removeVirtualPrinter("Velmora_adm", [&](bool done) { refused.set_value(done); });
    EXPECT_FALSE(refused.get_future().get());

    printer.removeAllVirtualPrinters();
    printer.waitUntilIdle();
    EXPECT_EQ(queueNames(), (std::vector<std::string>{"Office_Velmora_x", "Velmora_adm"}));
    EXPECT_EQ(facts("Velmora_adm").deviceUri, "file:///dev/null");
}

TEST_F(VirtualPrinterTest, AnAdministratorsQueueOfOurNameIsNeverRepointed) {
    addForeign("Velmora_adm", "Administrator's");
    VirtualPrinter printer(settings());
    printer.compareSharedAndVirtual(
        {{"adm", "Hijack", true, true}, {"ADM", "Hijack", true, false}});
    printer.addVirtualPrinter("adm", "Hijack", 0);
    printer.updatePrinter("Velmora_adm", "Hijack");
    printer.updatePpdForPrinter("Velmora_adm", 1);
    printer.waitUntilIdle();
    const Facts admin = facts("Velmora_adm");
    EXPECT_EQ(admin.info, "Administrator's");
    EXPECT_EQ(admin.deviceUri, "file:///dev/null");
    EXPECT_FALSE(admin.hasDefaultDuplex);
    EXPECT_EQ(queueNames(), std::vector<std::string>{"Velmora_adm"});
}

TEST_F(VirtualPrinterTest, HostileIdsAreSkippedAndHostileTitlesStayText) {
    const fs::path marker = fs::current_path() / "x";
    fs::remove(marker);
    VirtualPrinter printer(settings());
    printer.compareSharedAndVirtual({
        {"$(touch x)", "Shell", true, false},
        {"../../etc", "Path", true, false},
        {"a b", "Space", true, false},
        {"t1", "$(touch x)", true, false},
        {"t2", "\"; lpadmin -x Velmora_t1; \"", true, false},
        {"t3", "Line\nBreak\r\t*cupsFilter2: x", true, false},
        {"t4", "-D -x Velmora_t1", true, false},
    });
    printer.waitUntilIdle();
    EXPECT_EQ(queueNames(),
              (std::vector<std::string>{"Velmora_t1", "Velmora_t2", "Velmora_t3", "Velmora_t4"}));
    EXPECT_EQ(facts("Velmora_t1").info, "$(touch x) (Velmora)");
    EXPECT_EQ(facts("Velmora_t2").info, "\"; lpadmin -x Velmora_t1; \" (Velmora)");
    EXPECT_EQ(facts("Velmora_t3").info, "LineBreak*cupsFilter2: x (Velmora)");
    EXPECT_EQ(facts("Velmora_t4").info, "-D -x Velmora_t1 (Velmora)");
    EXPECT_FALSE(fs::exists(marker));
    EXPECT_EQ(log_->messages(LogLevel::Error).size(), 3u);
}

TEST_F(VirtualPrinterTest, AnEndlessPrinterListGetsABoundedNumberOfQueues) {
    VirtualPrinter::Settings bounded = settings();
    bounded.maxQueues = 3;
    std::vector<VirtualPrinter::Wish> wishes;
    for (int index = 0; index < 100000; ++index)
        wishes.push_back({"p" + std::to_string(index), "Printer", index % 2 == 1, false});
    VirtualPrinter printer(bounded);
    printer.compareSharedAndVirtual(std::move(wishes));
    printer.waitUntilIdle();
    EXPECT_EQ(queueNames(), (std::vector<std::string>{"Velmora_p1", "Velmora_p3", "Velmora_p5"}));
    EXPECT_EQ(log_->messages(LogLevel::Error),
              std::vector<std::string>{"Only the first 3 online remote printers get a queue"});
}

TEST_F(VirtualPrinterTest, ANewVersionPointsEveryQueueAtTheCurrentPpdOnce) {
    addOurs("abc", "Office");
    addOurs("def", "Laser", true);
    ASSERT_EQ(facts("Velmora_abc").defaultPageSize, "Letter");
    writeGeneratedPpd("A4");
    {
        // The same version: nothing is refreshed.
        VirtualPrinter printer(settings());
        printer.waitUntilIdle();
        EXPECT_EQ(facts("Velmora_abc").defaultPageSize, "Letter");
        EXPECT_TRUE(log_->contains(LogLevel::Default, "Update PPDs: skip; already up to date."));
    }
    struct Stale {
        const char* name;
        const char* paper;
        std::string version;
        bool anotherUsers;
    };
    for (const Stale& stale :
         std::vector<Stale>{{"a trailing line feed makes it another version", "A4",
                             std::string(kVersion) + "\n", false},
                            {"another user's file saying this version", "A5", kVersion, true}}) {
        if (stale.anotherUsers && ::geteuid() != 0)
            continue;  // files of another user need root
        writeGeneratedPpd(stale.paper);
        ScratchDirectory::writeFile(versionFile(), stale.version);
        if (stale.anotherUsers) {
            ASSERT_EQ(::chown(versionFile().c_str(), ::getpwnam("nobody")->pw_uid,
                              static_cast<gid_t>(-1)),
                      0);
        }
        VirtualPrinter printer(settings());
        printer.waitUntilIdle();
        EXPECT_EQ(facts("Velmora_abc").defaultPageSize, stale.paper) << stale.name;
        EXPECT_FALSE(facts("Velmora_abc").hasDefaultDuplex) << stale.name;
        EXPECT_TRUE(facts("Velmora_def").hasDefaultDuplex) << stale.name;
        EXPECT_EQ(ScratchDirectory::readFile(versionFile()), kVersion) << stale.name;
        EXPECT_FALSE(printer.needToUpdatePPDs()) << stale.name;
    }
    EXPECT_TRUE(log_->contains(
        LogLevel::Default, "Update PPD for printer Office (Velmora) (id Velmora_abc) duplex: no"));
}

TEST_F(VirtualPrinterTest, AStrayQueueNamedVelmoraIsRemovedOnlyWhenItPrintsToUs) {
    ASSERT_EQ(cupsd_
                  ->command({"lpadmin", "-p", "Velmora", "-E", "-v", "velmora:/", "-P",
                             Config(systemDir()).getPPDFileName().string()})
                  .exitStatus,
              0);
    addForeign("velmora", "x");  // the same queue name to the scheduler: repointed elsewhere
    VirtualPrinter printer(settings());
    std::vector<std::string> listed;
    for (const auto& entry : printer.getPrintersFromSettings())
        listed.push_back(entry.printerID);
    printer.waitUntilIdle();
    EXPECT_EQ(listed, std::vector<std::string>{"Velmora"});
    EXPECT_EQ(queueNames().size(), 1u);

    ASSERT_EQ(cupsd_->command({"lpadmin", "-p", "Velmora", "-v", "velmora:/"}).exitStatus, 0);
    listed.clear();
    for (const auto& entry : printer.getPrintersFromSettings())
        listed.push_back(entry.printerID);
    printer.waitUntilIdle();
    EXPECT_TRUE(listed.empty());
    EXPECT_TRUE(queueNames().empty());
}

// The root helper, run directly (as root, without a polkit agent) against the scheduler.
TEST_F(VirtualPrinterTest, TheHelperActsOnlyOnOurQueues) {
    addForeign("Velmora_adm", "Administrator's");
    LpadminCommand::Settings lpadmin = settings().changer.lpadmin;
    struct Case {
        std::vector<std::string> arguments;
        int status;
    };
    for (const Case& c : std::vector<Case>{
             {{"remove", "Velmora_adm"}, 2},
             {{"rename", "Velmora_adm", "Mine (Velmora)"}, 2},
             {{"add", "Velmora_adm", "plain", "Mine (Velmora)"}, 2},
             {{"remove", "Velmora_missing"}, 2},
             {{"add", "Velmora_new", "duplex", "New (Velmora)"}, 0},
             {{"ppd", "Velmora_new", "plain"}, 0},
             {{"rename", "Velmora_new", "Renamed (Velmora)"}, 0},
         }) {
        std::string error;
        EXPECT_EQ(QueueHelper::run(c.arguments, lpadmin, ::getuid(), error), c.status)
            << ::testing::PrintToString(c.arguments) << ": " << error;
    }
    EXPECT_EQ(facts("Velmora_adm").info, "Administrator's");
    const Facts added = facts("Velmora_new");
    EXPECT_EQ(added.info, "Renamed (Velmora)");
    EXPECT_FALSE(added.hasDefaultDuplex);
    EXPECT_FALSE(added.shared);
    EXPECT_EQ(added.policy, "velmora");
    std::string error;
    EXPECT_EQ(QueueHelper::run(std::vector<std::string>{"remove", "Velmora_new"}, lpadmin,
                               ::getuid(), error),
              0);
    EXPECT_FALSE(facts("Velmora_new").exists);
}

// Every user's console writes the shared folder; lpadmin reads the PPD the helper names with
// root's rights. The helper takes only the requester's own PPD: not one planted under their name
// by another user, not a link (out of the folder or not), not a second name of root's file, and
// never another user's PPD in place of a missing one.
TEST_F(VirtualPrinterTest, TheHelperInstallsNoPpdAnotherUserPlanted) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "Files of another user need root";
    const uid_t nobody = ::getpwnam("nobody")->pw_uid;
    const uid_t daemon = ::getpwnam("daemon")->pw_uid;
    const fs::path elsewhere = scratch_ / "elsewhere.ppd";  // root's
    fs::copy_file(Config(systemDir()).getPPDFileName(), elsewhere);
    const LpadminCommand::Settings lpadmin = settings().changer.lpadmin;
    const std::vector<std::string> add = {"add", "Velmora_new", "plain", "New (Velmora)"};
    // Where the helper would look for the PPD of `uid`.
    const auto sharedPpdOf = [this](uid_t uid) {
        return systemDir() / Config::ppdFileNameForUser(Config::userNameOf(uid));
    };
    enum class Plant { Copy, SymbolicLink, HardLink };
    struct Case {
        const char* name;
        Plant plant;
        uid_t underNameOf;
        uid_t owner;
        uid_t requester;
        int status;
    };
    for (const Case& c : std::vector<Case>{
             {"another user's", Plant::Copy, 0, nobody, 0, 2},
             {"another user's under the requester's name", Plant::Copy, nobody, daemon, nobody, 2},
             {"a link out of the folder", Plant::SymbolicLink, 0, 0, 0, 2},
             {"the requester's own link", Plant::SymbolicLink, nobody, nobody, nobody, 2},
             {"a second name of root's file", Plant::HardLink, nobody, 0, nobody, 2},
             {"only another user's own", Plant::Copy, daemon, daemon, nobody, 2},
             {"the requester's own", Plant::Copy, nobody, nobody, nobody, 0}}) {
        for (const uid_t uid : {uid_t{0}, nobody, daemon})
            fs::remove(sharedPpdOf(uid));
        const fs::path shared = sharedPpdOf(c.underNameOf);
        if (c.plant == Plant::SymbolicLink)
            fs::create_symlink(elsewhere, shared);
        else if (c.plant == Plant::HardLink)
            fs::create_hard_link(elsewhere, shared);
        else
            fs::copy_file(elsewhere, shared);
        ASSERT_EQ(::lchown(shared.c_str(), c.owner, static_cast<gid_t>(-1)), 0);
        std::string error;
        EXPECT_EQ(QueueHelper::run(add, lpadmin, c.requester, error), c.status)
            << c.name << ": " << error;
        EXPECT_EQ(facts("Velmora_new").exists, c.status == 0) << c.name;
        cupsd_->command({"lpadmin", "-x", "Velmora_new"});
    }
}

// Anyone may create the file a user's console writes its PPD to before that console does; the
// console, running lpadmin itself, must then not hand lpadmin the stranger's PPD either.
TEST_F(VirtualPrinterTest, AConsoleInstallsNoPpdAnotherUserPlantedUnderItsName) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "Files of another user need root";
    const fs::path own = Config(systemDir()).getPPDFileName();
    ASSERT_EQ(::chown(own.c_str(), ::getpwnam("nobody")->pw_uid, static_cast<gid_t>(-1)), 0);
    {
        VirtualPrinter printer(settings());
        printer.compareSharedAndVirtual({{"abc", "Office", true, false}});
        printer.waitUntilIdle();
    }
    EXPECT_FALSE(facts("Velmora_abc").exists);
    EXPECT_TRUE(
        log_->contains(LogLevel::Error, "Queue add Velmora_abc: The PPD " + own.string() +
                                            " belongs to another user or is open to others"));
    // The same file back in its user's hands is taken, and duplex queues never needed it.
    ASSERT_EQ(::chown(own.c_str(), ::geteuid(), static_cast<gid_t>(-1)), 0);
    VirtualPrinter printer(settings());
    printer.compareSharedAndVirtual({{"abc", "Office", true, false}, {"def", "Laser", true, true}});
    printer.waitUntilIdle();
    EXPECT_TRUE(facts("Velmora_abc").exists);
    EXPECT_TRUE(facts("Velmora_def").exists);
}

// In the shared folder (sticky, like the installed one) nobody may replace another user's file,
// so each user's console writes a PPD of its own, again and again, and the helper gives each
// user's queue that user's papers.
TEST_F(VirtualPrinterTest, EveryUserSetsUpQueuesWithTheirOwnPpd) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "Acting as other users needs root";
    ASSERT_EQ(::chmod(systemDir().c_str(), 01777), 0);
    const LpadminCommand::Settings lpadmin = settings().changer.lpadmin;
    struct Step {
        const char* user;
        const char* paper;
    };
    for (const Step& step : std::vector<Step>{
             {"nobody", "A4"}, {"daemon", "Legal"}, {"nobody", "A5"}, {"daemon", "Tabloid"}}) {
        const std::string label = std::string(step.user) + " with " + step.paper;
        ASSERT_EQ(generatePpdAs(step.user, step.paper), "") << label;
        const std::string queue = "Velmora_" + std::string(step.user);
        std::string error;
        EXPECT_EQ(QueueHelper::run(std::vector<std::string>{"add", queue, "plain",
                                                            std::string(step.user) + " (Velmora)"},
                                   lpadmin, ::getpwnam(step.user)->pw_uid, error),
                  0)
            << label << ": " << error;
        EXPECT_EQ(facts(queue).defaultPageSize, step.paper) << label;
    }
}

// The backend sends a job with the service account of the user the scheduler names; our policy
// makes the scheduler check that name against the client's own user id.
TEST_F(VirtualPrinterTest, NoLocalUserSubmitsAJobInAnotherUsersName) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "Printing as another user needs root";
    addOurs("abc", "Office");
    addForeign("Plain_queue", "Default policy");
    const std::vector<std::string> asNobody = {"setpriv", "--reuid=nobody", "--regid=nogroup",
                                               "--clear-groups"};
    EXPECT_EQ(heldJob("Velmora_abc", asNobody, {"-U", "root"}), "");
    EXPECT_EQ(heldJob("Velmora_abc", asNobody, {"-U", "alice"}), "");
    ASSERT_NE(heldJob("Velmora_abc", asNobody), "");
    const auto owners = cupsd_->command({"lpstat", "-W", "not-completed", "-o", "Velmora_abc"});
    EXPECT_NE(owners.standardOutput.find(" nobody "), std::string::npos) << owners.standardOutput;
    EXPECT_EQ(jobsOn("Velmora_abc").size(), 1u);
    // Without the policy the claim goes through: what the policy is there to stop.
    EXPECT_NE(heldJob("Plain_queue", asNobody, {"-U", "alice"}), "");
}

// A job's fate belongs to its proven owner: another local user claiming the owner's name does
// not cancel the job.
TEST_F(VirtualPrinterTest, NoLocalUserCancelsAnotherUsersJobByClaimingTheName) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "Printing as another user needs root";
    addOurs("abc", "Office");
    const std::vector<std::string> asNobody = {"setpriv", "--reuid=nobody", "--regid=nogroup",
                                               "--clear-groups"};
    const std::string submitted = heldJob("Velmora_abc", asNobody);
    const size_t dash = submitted.find("Velmora_abc-");
    ASSERT_NE(dash, std::string::npos) << submitted;
    const std::string job = submitted.substr(dash, submitted.find(' ', dash) - dash);
    const std::vector<std::string> asDaemonClaimingNobody = {
        "setpriv", "--reuid=daemon", "--regid=daemon", "--clear-groups", "env", "CUPS_USER=nobody"};

    auto command = asDaemonClaimingNobody;
    command.insert(command.end(), {"cancel", job});
    cupsd_->command(command);
    const auto held = cupsd_->command({"lpstat", "-l", "-o", "Velmora_abc"});
    EXPECT_NE(held.standardOutput.find(job), std::string::npos) << "the job was cancelled";
    command = asNobody;
    command.insert(command.end(), {"cancel", job});
    EXPECT_EQ(cupsd_->command(command).exitStatus, 0) << "its owner may cancel it";
    EXPECT_TRUE(jobsOn("Velmora_abc").empty());
}

}  // namespace
}  // namespace velmora::console
