#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QEventLoop>
#include <QHostAddress>
#include <QTcpServer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "console/app/controller/AppContext.h"
#include "console/app/controller/HeadlessUi.h"
#include "console/app/controller/MainView.h"
#include "console/jobs/Job.h"
#include "console/service/ConsoleConfig.h"
#include "core/net/InetProvider.h"
#include "platform/CaptureLogSink.h"
#include "platform/Logger.h"
#include "platform/PlainRunLoop.h"
#include "tests/console/app/controller/RecordingUi.h"
#include "tests/support/PrivateCupsd.h"
#include "tests/support/RefServiceProcess.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora::console {
namespace {

namespace fs = std::filesystem;
using State = SignInState::State;
using velmora::test::PrivateCupsd;
using velmora::test::RecordingUi;
using velmora::test::RefServiceProcess;
using velmora::test::ScratchDirectory;
using namespace std::chrono_literals;

constexpr const char* kLaser = "11111111-2222-3333-4444-555555555555";
constexpr const char* kOldie = "22222222-3333-4444-5555-666666666666";

constexpr const char* kSeed = R"({
    "accounts": [
        {"login": "carol", "password": "carol-pw", "token": "tok-carol", "id": 3, "nick": "Caz",
         "favorites": ["11111111-2222-3333-4444-555555555555",
                       "22222222-3333-4444-5555-666666666666"],
         "default_printer": "11111111-2222-3333-4444-555555555555",
         "permissions": [{"permission": "Ask"}]},
        {"login": "bob", "password": "bob-pw", "token": "tok-bob", "id": 2, "nick": "Bobby"}
    ],
    "printers": [
        {"public_id": "11111111-2222-3333-4444-555555555555", "owner": "bob",
         "title": "Bob's Laser", "shared": true, "online": true,
         "capabilities": {"pack": "true", "transport": "bmp", "enc-type": "AES"}},
        {"public_id": "22222222-3333-4444-5555-666666666666", "owner": "bob",
         "title": "Old Plotter", "shared": true, "online": false,
         "capabilities": {"pack": "false", "transport": "emf"}}
    ]})";

// The whole controller in this process: the real application context with every back end,
// against the reference service and a private scheduler, with a front end that records.
class MainViewServiceTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        scratch_ = std::make_unique<ScratchDirectory>("velmora-controller");
        ScratchDirectory::writeFile(*scratch_ / "seed.json", kSeed);
        service_ = std::make_unique<RefServiceProcess>(
            *scratch_ / "seed.json", std::vector<std::string>{}, *scratch_ / "service.log");
        PrivateCupsd::Options options;
        options.extraConfig = ScratchDirectory::readFile(VELMORA_QUEUE_POLICY_FILE);
        options.backends = {{"velmora", VELMORA_BACKEND_PATH}};
        cupsd_ = std::make_unique<PrivateCupsd>(options);
        if (!cupsd_->running())
            return;
        for (const char* queue : {"Desk", "Annex"})
            cupsd_->command({"lpadmin", "-p", queue, "-E", "-v", "file:///dev/null", "-P",
                             "/usr/share/ppd/cupsfilters/Generic-PDF_Printer-PDF.ppd"});
    }
    static void TearDownTestSuite() {
        cupsd_.reset();
        service_.reset();
        scratch_.reset();
    }

    void SetUp() override {
        if (!cupsd_->running())
            GTEST_SKIP() << "No private CUPS scheduler: " << cupsd_->failure();
        service_->post("/_ref/reset", "");
        previousSink_ = Logger::setSink(log_);
        ::chmod(system_.path().c_str(), 0755);
    }
    void TearDown() override {
        if (!cupsd_->running())
            return;
        quit();
        context_.reset();
        for (const std::string& queue : ourQueues())
            cupsd_->command({"lpadmin", "-x", queue});
        Logger::setSink(previousSink_);
        EXPECT_EQ(service_->state().get<int>("malformed_count"), 0);
    }

    void writeSetup(const std::string& token) {
        ConsoleConfig config(system_.path());
        config.setService(service_->serviceUrl());
        config.setToken(token);
        // The tests poll when they choose to.
        config.setFastCheckInterval(3600);
        std::string error;
        ASSERT_TRUE(config.saveSetup(error)) << error;
    }

    AppContext::Options options() const {
        AppContext::Options options;
        options.systemDir = system_.path();
        options.headless = true;
        options.directPort = directPort_;
        options.announce = false;
        options.printServer = cupsd_->socketPath();
        QueueChanger::Settings changer;
        changer.lpadmin.server = cupsd_->socketPath();
        changer.lpadmin.systemDir = system_.path();
        changer.lpadmin.duplexPpd = VELMORA_DUPLEX_PPD;
        changer.lpadmin.opPolicy = "velmora";
        options.queueChanger = changer;
        options.deliveryPause = deliveryPause_;
        return options;
    }

    void start() {
        context_ = std::make_unique<AppContext>(options());
        launch(ui_);
    }
    void launch(MainViewUi& front) {
        view().attachUi(front);
        view().awakeFromNib();
        context_->appController().applicationDidFinishLaunching();
    }
    void startSignedIn() {
        ASSERT_NO_FATAL_FAILURE(writeSetup("tok-carol"));
        start();
        ASSERT_TRUE(pumpUntil([&] { return view().signInState() == State::SignedIn; }))
            << SignInState::name(view().signInState());
    }
    void quit() {
        if (!context_ || quitted_)
            return;
        quitted_ = true;
        context_->shutdown();
        context_->appController().applicationWillTerminate();
    }

    MainView& view() { return context_->mainView(); }

    // Runs the main loop until `done` holds or the time is up.
    static bool pumpUntil(const std::function<bool()>& done,
                          std::chrono::milliseconds timeout = 10s) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            QEventLoop loop;
            QTimer::singleShot(10, &loop, &QEventLoop::quit);
            loop.exec();
        }
        return true;
    }
    static void pumpFor(std::chrono::milliseconds time) {
        pumpUntil([] { return false; }, time);
    }

    static size_t requests(const std::string& kind, const std::string& operation = "") {
        size_t count = 0;
        for (const auto& entry : service_->requests(kind))
            count += operation.empty() || entry.get<std::string>("operation", "") == operation;
        return count;
    }
    static std::vector<std::string> ourQueues() {
        std::vector<std::string> names;
        std::istringstream in(cupsd_->command({"lpstat", "-e"}).standardOutput);
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("Velmora_", 0) == 0)
                names.push_back(line);
        }
        return names;
    }
    bool hasQueue(const std::string& publicId) {
        context_->virtualPrinter().waitUntilIdle();
        const auto queues = ourQueues();
        return std::find(queues.begin(), queues.end(), "Velmora_" + publicId) != queues.end();
    }
    std::string storedToken() {
        ConsoleConfig config(system_.path());
        std::string error;
        EXPECT_TRUE(config.loadSetup(config.currentUserName(), error)) << error;
        return config.token();
    }
    fs::path messageFile() {
        return context_->config().getMessageFileNameForUser(context_->config().currentUserName());
    }
    // A printer of this computer that carol shares, with `jobs` jobs of bob's waiting on it.
    std::string shareDeskWithJobs(int jobs) {
        const std::string id = context_->localPrinters().objectAtIndex(0).publicId();
        std::string seed = R"({"printers": [{"public_id": ")" + id +
                           R"(", "owner": "carol", "title": "Desk", "shared": true}], "jobs": [)";
        for (int job = 0; job < jobs; ++job)
            seed += std::string(job ? "," : "") + R"({"sender": "bob", "printer": ")" + id +
                    R"(", "document": "Minutes", "pages": [{"text": "x"}]})";
        service_->seed(seed + "]}");
        return id;
    }

    static inline std::unique_ptr<ScratchDirectory> scratch_;
    static inline std::unique_ptr<RefServiceProcess> service_;
    static inline std::unique_ptr<PrivateCupsd> cupsd_;

    ScratchDirectory system_{"velmora-controller-system"};
    std::shared_ptr<CaptureLogSink> log_ = std::make_shared<CaptureLogSink>();
    std::shared_ptr<LogSink> previousSink_;
    std::chrono::milliseconds deliveryPause_ = 100ms;
    uint16_t directPort_ = 0;
    RecordingUi ui_;
    std::unique_ptr<AppContext> context_;
    bool quitted_ = false;
};

// ---- Start-up and sign-in

TEST_F(MainViewServiceTest, WithoutATokenTheDialogOpensAndTheServiceHearsNothing) {
    ASSERT_NO_FATAL_FAILURE(writeSetup(""));
    start();
    ASSERT_TRUE(pumpUntil([&] { return ui_.loginDialogs == 1; }));
    pumpFor(200ms);
    EXPECT_EQ(view().signInState(), State::SignedOut);
    EXPECT_EQ(requests("soap"), 0u);
    EXPECT_EQ(requests("fastcheck"), 0u);
    ASSERT_FALSE(ui_.views.empty());
    EXPECT_FALSE(ui_.views.back().active);
}

TEST_F(MainViewServiceTest, AStoredTokenSignsInAndTheWindowShowsTheAccount) {
    ASSERT_NO_FATAL_FAILURE(startSignedIn());
    EXPECT_EQ(requests("soap", "Login"), 1u);
    EXPECT_EQ(ui_.loginDialogs, 0);
    const MainViewState& state = ui_.views.back();
    EXPECT_TRUE(state.active);
    EXPECT_EQ(state.user, "carol@example.test");
    EXPECT_EQ(state.domain, "127.0.0.1");
    EXPECT_EQ(state.localPrinters.size(), 2u);
    ASSERT_EQ(state.remotePrinters.size(), 2u);
    EXPECT_EQ(state.remotePrinters[0].publicId, kLaser);
    EXPECT_TRUE(state.remotePrinters[0].isDefault);
    EXPECT_FALSE(state.remotePrinters[1].isDefault);
    // The status line said it was connecting, then went blank.
    ASSERT_GE(ui_.statusTexts.size(), 2u);
    EXPECT_EQ(ui_.statusTexts.front(), "Trying to connect to remote server. Please wait.");
    EXPECT_EQ(ui_.statusTexts.back(), "");
    // The online remote printer got its queue.
    EXPECT_TRUE(hasQueue(kLaser));
    EXPECT_FALSE(hasQueue(kOldie));
}

TEST_F(MainViewServiceTest, ARefusedTokenShowsTheLoginFailedSheetAndTryAgainSignsInAgain) {
    ASSERT_NO_FATAL_FAILURE(writeSetup("tok-unknown"));
    start();
    ASSERT_TRUE(pumpUntil([&] { return !ui_.sheets.empty(); }));
    EXPECT_EQ(view().signInState(), State::LoginFailed);
    EXPECT_EQ(ui_.sheets.back().sheet.kind, ChoiceSheet::Kind::LoginFailed);
    EXPECT_EQ(ui_.sheets.back().sheet.title, "Login failed");
    EXPECT_NE(ui_.sheets.back().sheet.message, "");
    ui_.answerSheet(true);
    ASSERT_TRUE(pumpUntil([&] { return ui_.sheets.size() == 2; }));
    EXPECT_EQ(requests("soap", "Login"), 2u);
}

TEST_F(MainViewServiceTest, AfterTheDialogSignedInTheProfileIsNamedAndTheConsoleSignsIn) {
    ASSERT_NO_FATAL_FAILURE(writeSetup(""));
    start();
    ASSERT_TRUE(pumpUntil([&] { return ui_.loginDialogs == 1; }));
    std::string error;
    ASSERT_TRUE(context_->inetProvider().login("carol", "carol-pw", service_->serviceUrl(), error))
        << error;
    view().loginControllerOk();
    EXPECT_EQ(view().signInState(), State::SignedIn);
    EXPECT_EQ(context_->config().profile(), "carol.127.0.0.1");
    EXPECT_NE(storedToken(), "");
    EXPECT_TRUE(ui_.views.back().active);
}

// Without a window nobody can type a password: a token saved later by the window or an
// administrator is what signs the console in.
TEST_F(MainViewServiceTest, WithoutAWindowATokenSavedLaterIsPickedUp) {
    ASSERT_NO_FATAL_FAILURE(writeSetup(""));
    start();
    ASSERT_TRUE(pumpUntil([&] { return ui_.loginDialogs == 1; }));
    view().retrySignInFromSetup();
    EXPECT_EQ(ui_.loginDialogs, 2);
    EXPECT_EQ(requests("soap"), 0u);
    ASSERT_NO_FATAL_FAILURE(writeSetup("tok-carol"));
    view().retrySignInFromSetup();
    EXPECT_EQ(view().signInState(), State::SignedIn);
    EXPECT_EQ(ui_.loginDialogs, 2);
}

// The service goes away and comes back: the console without a window tries again by itself.
TEST_F(MainViewServiceTest, WithoutAWindowAFailedPollIsRetriedUntilTheServiceAnswers) {
    ASSERT_NO_FATAL_FAILURE(writeSetup("tok-carol"));
    context_ = std::make_unique<AppContext>(options());
    HeadlessUi headless(context_->runLoop(),
                        RetryPause(RetryPause::Seconds(0.05), RetryPause::Seconds(0.2)));
    view().setServiceReachedObserver([&] { headless.serviceReached(); });
    launch(headless);
    ASSERT_TRUE(pumpUntil([&] { return view().signInState() == State::SignedIn; }));

    service_->addFault(R"({"count": 3, "match": {"path": "/fastCheck3.aspx"}, "status": 503})");
    const size_t polls = requests("fastcheck");
    view().fastCheck();
    EXPECT_EQ(view().signInState(), State::PollFailed);
    ASSERT_TRUE(pumpUntil([&] {
        return requests("fastcheck") == polls + 1 && view().signInState() == State::SignedIn;
    })) << SignInState::name(view().signInState());
    // Every failure was tried again (a refused poll is journaled under its fault only).
    EXPECT_TRUE(service_->state().get_child("faults").empty());
    // Answered: the next failure waits the shortest pause again.
    EXPECT_EQ(headless.pause().peek().count(), 0.05);
    EXPECT_TRUE(view().userActive());
    quit();
}

// ---- The sign-in states after a poll

TEST_F(MainViewServiceTest, AFailedPollShowsItsSheetAndTryAgainPollsAtOnce) {
    ASSERT_NO_FATAL_FAILURE(startSignedIn());
    service_->addFault(R"({"match": {"path": "/fastCheck3.aspx"}, "status": 500})");
    view().fastCheck();
    EXPECT_EQ(view().signInState(), State::PollFailed);
    EXPECT_FALSE(view().userActive());
    ASSERT_EQ(ui_.sheets.size(), 1u);
    EXPECT_EQ(ui_.sheets[0].sheet.kind, ChoiceSheet::Kind::FastCheckFailed);
    EXPECT_EQ(ui_.sheets[0].sheet.title, "Check for new documents failed");
    EXPECT_EQ(ui_.sheets[0].sheet.defaultButton, "Try Again");
    EXPECT_EQ(ui_.sheets[0].sheet.alternateButton, "Log Out");

    const size_t polls = requests("fastcheck");
    ui_.answerSheet(true);
    ASSERT_TRUE(pumpUntil([&] { return requests("fastcheck") == polls + 1; }));
    EXPECT_EQ(view().signInState(), State::SignedIn);
    EXPECT_TRUE(view().userActive());
}

TEST_F(MainViewServiceTest, LogOutEmptiesTheStoredTokenAndRemovesOurQueues) {
    ASSERT_NO_FATAL_FAILURE(startSignedIn());
    ASSERT_TRUE(hasQueue(kLaser));
    service_->addFault(R"({"match": {"path": "/fastCheck3.aspx"}, "status": 500})");
    view().fastCheck();
    ASSERT_EQ(ui_.sheets.size(), 1u);
    ui_.answerSheet(false);
    ASSERT_TRUE(pumpUntil([&] { return ui_.loginDialogs == 1; }));
    EXPECT_EQ(view().signInState(), State::SignedOut);
    EXPECT_EQ(storedToken(), "");
    EXPECT_EQ(requests("soap", "Logoff"), 1u);
    EXPECT_FALSE(hasQueue(kLaser));
    EXPECT_EQ(context_->remotePrinters().count(), 0u);
    // Signed out, a poll is skipped without asking the service.
    const size_t polls = requests("fastcheck");
    view().fastCheck();
    EXPECT_EQ(requests("fastcheck"), polls);
}

// The jobs of such a reply come again with the sign-in's own reply.
TEST_F(MainViewServiceTest, AReloginReplyWithJobsSignsInAgainWithoutARefreshOfItsOwn) {
    ASSERT_NO_FATAL_FAILURE(startSignedIn());
    service_->addFault(R"({"match": {"path": "/fastCheck3.aspx"}, "status": 200,
        "content_type": "text/xml",
        "body": "<response timestamp=\"000000000009\"><subscriptions/><jobs><job id=\"4711\"/></jobs></response>"})");
    size_t views = ui_.views.size();
    view().loginWithToken();
    const size_t refreshesOfASignIn = ui_.views.size() - views;
    views = ui_.views.size();
    view().fastCheck();
    EXPECT_EQ(requests("soap", "Login"), 3u);
    EXPECT_EQ(view().signInState(), State::SignedIn);
    EXPECT_EQ(ui_.views.size() - views, refreshesOfASignIn);
    EXPECT_EQ(context_->jobs().getJob(4711), nullptr);
    EXPECT_TRUE(ui_.noticesOfType(0).empty());
}

// ---- Sharing

TEST_F(MainViewServiceTest, ShareAndUnshareReachTheServiceAndUnshareRemovesOurOwnQueue) {
    ASSERT_NO_FATAL_FAILURE(startSignedIn());
    const std::string id = context_->localPrinters().objectAtIndex(0).publicId();
    const std::string title = context_->localPrinters().objectAtIndex(0).localTitle();
    const auto sharedAtService = [&] {
        const RefServiceProcess::Tree state = service_->state();
        for (const auto& [unused, printer] : state.get_child("printers")) {
            if (printer.get<std::string>("public_id") == id)
                return printer.get<bool>("shared");
        }
        return false;
    };

    view().sharePrinter(title);
    EXPECT_TRUE(ui_.alerts.empty());
    EXPECT_TRUE(sharedAtService());
    EXPECT_TRUE(context_->localPrinters().objectAtIndex(0).shared());
    EXPECT_TRUE(ui_.views.back().localPrinters[0].shared);

    // Carol also prints to her own printer as a remote one: it gets a queue here.
    std::string error;
    ASSERT_TRUE(context_->inetProvider().likePrinter(id, error)) << error;
    view().reloadData();
    ASSERT_TRUE(hasQueue(id));

    const size_t polls = requests("fastcheck");
    view().sharePrinter(title);
    EXPECT_FALSE(sharedAtService());
    EXPECT_FALSE(context_->localPrinters().objectAtIndex(0).shared());
    EXPECT_FALSE(hasQueue(id));
    EXPECT_TRUE(hasQueue(kLaser));
    // Each change is followed by a poll at once.
    EXPECT_EQ(requests("fastcheck"), polls + 1);
}

TEST_F(MainViewServiceTest, AFailedShareShowsTheErrorAndChangesNothing) {
    ASSERT_NO_FATAL_FAILURE(startSignedIn());
    service_->addFault(R"({"match": {"operation": "ChangePrinters"}, "status": 500,
                           "soap_message": "Sharing is switched off"})");
    const std::string title = context_->localPrinters().objectAtIndex(0).localTitle();
    view().sharePrinter(title);
    ASSERT_EQ(ui_.alerts.size(), 1u);
    EXPECT_FALSE(context_->localPrinters().objectAtIndex(0).shared());
    // A printer that is no longer listed: nothing happens.
    view().sharePrinter("NoSuchQueue");
    EXPECT_EQ(ui_.alerts.size(), 1u);
}

TEST_F(MainViewServiceTest, AnIncompatiblePrinterIsOnlyRemovedWhenTheUserSaysSo) {
    ASSERT_NO_FATAL_FAILURE(startSignedIn());
    EXPECT_TRUE(view().setupRemotePrinter(kLaser));
    EXPECT_TRUE(ui_.sheets.empty());

    EXPECT_FALSE(view().setupRemotePrinter(kOldie));
    ASSERT_EQ(ui_.sheets.size(), 1u);
    EXPECT_EQ(ui_.sheets[0].sheet.kind, ChoiceSheet::Kind::IncompatiblePrinter);
    EXPECT_EQ(ui_.sheets[0].sheet.defaultButton, "Close");
    ui_.answerSheet(true);
    EXPECT_EQ(requests("soap", "ChangePrinters"), 0u);
    EXPECT_NE(context_->remotePrinters().getPrinter(kOldie), nullptr);

    view().setupRemotePrinter(kOldie);
    ui_.answerSheet(false);
    EXPECT_EQ(requests("soap", "ChangePrinters"), 1u);
    EXPECT_EQ(context_->remotePrinters().getPrinter(kOldie), nullptr);
    EXPECT_EQ(ui_.views.back().remotePrinters.size(), 1u);
}

TEST_F(MainViewServiceTest, NewPropertiesOfASharedPrinterGoToTheServiceThenAPollRuns) {
    ASSERT_NO_FATAL_FAILURE(startSignedIn());
    const std::string title = context_->localPrinters().objectAtIndex(0).localTitle();
    size_t changes = requests("soap", "ChangePrinters");
    size_t polls = requests("fastcheck");
    // Not shared: nothing to tell the service.
    view().printerPropertiesControllerOk(title);
    EXPECT_EQ(requests("soap", "ChangePrinters"), changes);
    EXPECT_EQ(requests("fastcheck"), polls + 1);

    view().sharePrinter(title);
    changes = requests("soap", "ChangePrinters");
    polls = requests("fastcheck");
    view().printerPropertiesControllerOk(title);
    EXPECT_EQ(requests("soap", "ChangePrinters"), changes + 1);
    EXPECT_EQ(requests("fastcheck"), polls + 1);
    EXPECT_TRUE(ui_.alerts.empty());
}

// The user's own shared printers are left out of the list shown, not out of the user's list.
TEST_F(MainViewServiceTest, HiddenOwnPrintersAreMissingFromTheTableOnly) {
    ASSERT_NO_FATAL_FAILURE(startSignedIn());
    const std::string id = context_->localPrinters().objectAtIndex(0).publicId();
    view().sharePrinter(context_->localPrinters().objectAtIndex(0).localTitle());
    std::string error;
    ASSERT_TRUE(context_->inetProvider().likePrinter(id, error)) << error;
    context_->config().setHideMyPrinters(true);
    view().reloadData();
    EXPECT_NE(context_->remotePrinters().getPrinter(id), nullptr);
    ASSERT_EQ(view().filteredRemotePrinters().size(), 2u);
    for (const auto& row : ui_.views.back().remotePrinters)
        EXPECT_NE(row.publicId, id);
    context_->config().setHideMyPrinters(false);
    view().reloadData();
    EXPECT_EQ(ui_.views.back().remotePrinters.size(), 3u);
}

TEST_F(MainViewServiceTest, AfterTheSetupWindowThePpdIsWrittenOrItsFailureShown) {
    ASSERT_NO_FATAL_FAILURE(startSignedIn());
    const fs::path ppd = context_->config().getPPDFileName();
    fs::remove(ppd);
    view().setupRemoteController_Ok();
    EXPECT_TRUE(ui_.alerts.empty());
    EXPECT_NE(ScratchDirectory::readFile(ppd).find("*PPD-Adobe"), std::string::npos);

    // Something that is not a file stands where the PPD goes.
    fs::remove(ppd);
    fs::create_directory(ppd);
    view().setupRemoteController_Ok();
    ASSERT_EQ(ui_.alerts.size(), 1u);
    EXPECT_EQ(ui_.alerts[0].title, "Failed to save PPD file");
    EXPECT_EQ(ui_.alerts[0].message,
              "Check that file " + ppd.string() + " exists and has symbolic link to /etc/cups/ppd");
}

// ---- Notices

TEST_F(MainViewServiceTest, NewJobsAreAnnouncedWithTheirNumber) {
    ASSERT_NO_FATAL_FAILURE(startSignedIn());
    shareDeskWithJobs(3);
    view().fastCheck();
    const auto notices = ui_.noticesOfType(0);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].text, "3 new job(s) arrived");
    EXPECT_EQ(notices[0].title, "");
    EXPECT_TRUE(ui_.views.back().newJobs);
}

TEST_F(MainViewServiceTest, WithNoticesOffNewJobsOnlyRefreshTheWindow) {
    ASSERT_NO_FATAL_FAILURE(startSignedIn());
    context_->config().setJobNotifications(false);
    shareDeskWithJobs(3);
    const size_t views = ui_.views.size();
    view().fastCheck();
    EXPECT_TRUE(ui_.noticesOfType(0).empty());
    EXPECT_GT(ui_.views.size(), views);
    EXPECT_TRUE(ui_.views.back().newJobs);
}

TEST_F(MainViewServiceTest, AJobDoneTriggersAPollAndAJobInErrorDoesNot) {
    ASSERT_NO_FATAL_FAILURE(startSignedIn());
    Job job(Job::Origin::kService, system_.path());
    const size_t polls = requests("fastcheck");
    job.setStatus(Job::kError);
    view().processor_ChangedJob(job);
    EXPECT_EQ(requests("fastcheck"), polls);
    job.setStatus(Job::kDone);
    view().processor_ChangedJob(job);
    EXPECT_EQ(requests("fastcheck"), polls + 1);
}

// ---- Delivery results

TEST_F(MainViewServiceTest, ADeliveryResultIsShownWithinFiveSecondsAndItsFileGoes) {
    deliveryPause_ = 5s;
    ASSERT_NO_FATAL_FAILURE(startSignedIn());
    ScratchDirectory::writeFile(messageFile(),
                                "Report.pdf/phTitsuccessfully sent for printing on Office");
    ASSERT_TRUE(pumpUntil([&] { return !ui_.noticesOfType(1).empty(); }, 6s));
    const auto notice = ui_.noticesOfType(1).front();
    EXPECT_EQ(notice.title, "Report.pdf");
    EXPECT_EQ(notice.text, "successfully sent for printing on Office");
    ASSERT_TRUE(pumpUntil([&] { return !fs::exists(messageFile()); }, 1s));
    EXPECT_EQ(std::distance(fs::directory_iterator(messageFile().parent_path()),
                            fs::directory_iterator()),
              std::distance(fs::directory_iterator(system_.path()), fs::directory_iterator()));
}

TEST_F(MainViewServiceTest, AResultLeftFromAnEarlierRunIsRemovedUnshown) {
    ASSERT_NO_FATAL_FAILURE(writeSetup(""));
    ScratchDirectory::writeFile(system_ / "messages.root.txt", "old/phTitstale");
    start();
    ASSERT_EQ(messageFile(), system_ / "messages.root.txt");
    ASSERT_TRUE(pumpUntil([&] { return !fs::exists(messageFile()); }));
    pumpFor(300ms);
    EXPECT_TRUE(ui_.noticesOfType(1).empty());
}

TEST_F(MainViewServiceTest, WhileResultsAreOffTheFileStays) {
    ASSERT_NO_FATAL_FAILURE(startSignedIn());
    context_->config().setShowDeliveryResult(false);
    ScratchDirectory::writeFile(messageFile(), "Report.pdf/phTitsent");
    pumpFor(500ms);
    EXPECT_TRUE(ui_.noticesOfType(1).empty());
    EXPECT_EQ(ScratchDirectory::readFile(messageFile()), "Report.pdf/phTitsent");
    context_->config().setShowDeliveryResult(true);
    ASSERT_TRUE(pumpUntil([&] { return !ui_.noticesOfType(1).empty(); }));
}

// Another program holds the direct print server's port: the console runs on without it.
TEST_F(MainViewServiceTest, ABusyDirectPortIsLoggedAndTheConsoleRunsOn) {
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::AnyIPv4, 0));
    directPort_ = holder.serverPort();
    ASSERT_NO_FATAL_FAILURE(startSignedIn());
    EXPECT_EQ(context_->httpServer().state(), HTTPServer::kIdle);
    bool logged = false;
    for (const std::string& line : log_->messages(LogLevel::Error))
        logged = logged || line.find("The direct print server is not running") == 0;
    EXPECT_TRUE(logged);
    view().fastCheck();
    EXPECT_EQ(view().signInState(), State::SignedIn);
}

// ---- Quit

TEST_F(MainViewServiceTest, QuitWhileSignedInSendsOneLogoffAndKeepsTheToken) {
    ASSERT_NO_FATAL_FAILURE(startSignedIn());
    quit();
    EXPECT_EQ(requests("soap", "Logoff"), 1u);
    EXPECT_EQ(storedToken(), "tok-carol");
    EXPECT_EQ(context_->httpServer().state(), HTTPServer::kIdle);
}

TEST_F(MainViewServiceTest, QuitWhileSignedOutSendsNoLogoff) {
    ASSERT_NO_FATAL_FAILURE(writeSetup(""));
    start();
    ASSERT_TRUE(pumpUntil([&] { return ui_.loginDialogs == 1; }));
    quit();
    EXPECT_EQ(requests("soap", "Logoff"), 0u);
}

// A worker or the polling thread may be waiting for the main thread at the moment it quits.
TEST_F(MainViewServiceTest, QuitWhileThreadsWaitForTheMainThreadEndsEveryThread) {
    deliveryPause_ = 1ms;
    ASSERT_NO_FATAL_FAILURE(writeSetup("tok-carol"));
    ConsoleConfig fast(system_.path());
    std::string error;
    ASSERT_TRUE(fast.loadSetup(fast.currentUserName(), error));
    fast.setFastCheckInterval(1);
    ASSERT_TRUE(fast.saveSetup(error));
    start();
    ASSERT_TRUE(pumpUntil([&] { return view().signInState() == State::SignedIn; }));
    // Keep the main thread busy while both threads queue up behind it.
    std::this_thread::sleep_for(1200ms);
    quit();
    EXPECT_EQ(requests("soap", "Logoff"), 1u);
}

}  // namespace
}  // namespace velmora::console

namespace velmora::console {
namespace {

// The update check against the service's update description.
class UpdateCheckTest : public MainViewServiceTest {
  protected:
    static void offer(int version, int kilobytes, const std::string& platform = "linux") {
        service_->seed(R"({"server": {"update": {"version": )" + std::to_string(version) +
                       R"(, "size": )" + std::to_string(kilobytes) + R"(, "platform": ")" +
                       platform + R"(", "href": "https://updates.example/velmora.deb"}}})");
    }
    std::vector<RecordingUi::Sheet> updateSheets() const {
        std::vector<RecordingUi::Sheet> found;
        for (const auto& sheet : ui_.sheets)
            if (sheet.sheet.kind == ChoiceSheet::Kind::UpdateOffer)
                found.push_back(sheet);
        return found;
    }
    std::vector<std::string> alertTitles() const {
        std::vector<std::string> titles;
        for (const auto& alert : ui_.alerts)
            titles.push_back(alert.title);
        return titles;
    }
};

TEST_F(UpdateCheckTest, OnlyAStrictlyNewerBuildForThisSystemIsOffered) {
    const int own = InetProvider::getIntVersion();
    ASSERT_GT(own, 0);
    struct Case {
        int version;
        std::string platform;
    };
    for (const Case& c : std::vector<Case>{{own, "linux"}, {own - 1, "linux"}, {own + 1, "mac"}}) {
        offer(c.version, 2048, c.platform);
        ui_ = RecordingUi();
        if (!context_) {
            ASSERT_NO_FATAL_FAILURE(startSignedIn());
        }
        // Silent: nothing at all.
        view().checkUpdates(true);
        EXPECT_TRUE(updateSheets().empty()) << c.version << " " << c.platform;
        EXPECT_TRUE(ui_.alerts.empty());
        // From the menu: the reason.
        view().checkUpdates(false);
        EXPECT_EQ(alertTitles(), std::vector<std::string>{"No updates available"})
            << c.version << " " << c.platform;
        EXPECT_TRUE(updateSheets().empty());
    }
}

TEST_F(UpdateCheckTest, TheSilentCheckAfterSignInStillOffersANewerBuild) {
    ASSERT_LT(InetProvider::getIntVersion(), 2003);
    offer(2003, 2048);
    ASSERT_NO_FATAL_FAILURE(startSignedIn());
    EXPECT_EQ(requests("update"), 1u);
    const auto sheets = updateSheets();
    ASSERT_EQ(sheets.size(), 1u);
    EXPECT_EQ(sheets[0].sheet.title,
              "New version available: 2.0.3 (2.0 Mb). Would you like to download it right now?");
    EXPECT_EQ(sheets[0].sheet.defaultButton, "Update");
    EXPECT_EQ(sheets[0].sheet.alternateButton, "Later");
    // "Later" opens nothing; the next check offers again.
    ui_.answerSheet(false);
    EXPECT_TRUE(ui_.updateWindows.empty());
    view().checkUpdates(false);
    ASSERT_EQ(updateSheets().size(), 2u);
    ui_.answerSheet(true);
    ASSERT_EQ(ui_.updateWindows.size(), 1u);
    EXPECT_EQ(ui_.updateWindows[0].href, "https://updates.example/velmora.deb");
    EXPECT_EQ(ui_.updateWindows[0].version, 2003);
    EXPECT_EQ(ui_.updateWindows[0].kilobytes, 2048);
}

TEST_F(UpdateCheckTest, WithChecksOffTheSignInAsksNothing) {
    offer(2003, 2048);
    ConsoleConfig config(system_.path());
    config.setService(service_->serviceUrl());
    config.setToken("tok-carol");
    config.setFastCheckInterval(3600);
    config.setCheckUpdates(false);
    std::string error;
    ASSERT_TRUE(config.saveSetup(error)) << error;
    start();
    ASSERT_TRUE(pumpUntil([&] { return view().signInState() == State::SignedIn; }));
    EXPECT_EQ(requests("update"), 0u);
    EXPECT_TRUE(updateSheets().empty());
}

TEST(HeadlessUpdateTest, WithoutAWindowAnOfferIsOnlyLogged) {
    auto log = std::make_shared<CaptureLogSink>();
    auto previous = Logger::setSink(log);
    PlainRunLoop loop;
    HeadlessUi ui(loop);
    std::vector<bool> answers;
    ui.showChoiceSheet(
        {ChoiceSheet::Kind::UpdateOffer, "New version available: 2.0.3", "", "Update", "Later"},
        [&](bool update) { answers.push_back(update); });
    ui.showUpdateWindow({"https://updates.example/v.deb", 2003, 2048, "2.0.3 (2.0 Mb)"});
    Logger::setSink(previous);
    // Answered at once with "Later", never after a pause with the default.
    EXPECT_EQ(answers, std::vector<bool>{false});
    EXPECT_TRUE(log->contains(LogLevel::Default, "New version available: 2.0.3"));
    bool logged = false;
    for (const std::string& line : log->messages(LogLevel::Default))
        logged |= line.find("2.0.3 (2.0 Mb)") != std::string::npos &&
                  line.find("not installed") != std::string::npos;
    EXPECT_TRUE(logged);
}

}  // namespace
}  // namespace velmora::console
