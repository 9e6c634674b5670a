#include "console/app/ui/MainWindow.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QtTest/QTest>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "console/app/ui/CellRoles.h"
#include "console/app/ui/Translation.h"
#include "console/jobs/JobArray.h"
#include "console/jobs/JobDispatcher.h"
#include "console/jobs/LocalPrinterArray.h"
#include "console/service/ConsoleConfig.h"
#include "console/service/ConsoleInetProvider.h"
#include "core/account/PermissionArray.h"
#include "core/account/Person.h"
#include "core/model/RemotePrinterArray.h"
#include "tests/console/app/ui/NoDispatch.h"
#include "tests/console/app/ui/QtTestPrinting.h"
#include "tests/console/app/ui/Screenshot.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora::console {
namespace {

using test::ScratchDirectory;

using test::NoDispatch;

MainViewState signedIn() {
    MainViewState state;
    state.active = true;
    state.hasToken = true;
    state.user = "carol@example.test";
    state.domain = "print.example";
    state.account = MainViewState::Account::PageLimit;
    state.freePages = 30;
    // Queue names differ from the titles shown, so commands must use the former.
    state.localPrinters = {{"Desk_Queue", "", "Desk", true, "Idle"},
                           {"Annex_Queue", "", "Annex", false, "Paused"}};
    state.remotePrinters = {
        {"11111111-2222-3333-4444-555555555555", "Bob's Laser", true, "Bobby", true},
        {"22222222-3333-4444-5555-666666666666", "\tPlotter", false, "Caz (my)", false}};
    return state;
}

MainViewState signedOut() {
    MainViewState state = signedIn();
    state.active = false;
    state.hasToken = false;
    return state;
}

class MainWindowTest : public ::testing::Test {
  protected:
    MainWindowCommands allCommands() {
        MainWindowCommands commands;
        auto record = [this](std::string name) {
            return [this, name](const std::string& id) { calls_.push_back(name + " " + id); };
        };
        auto recordPlain = [this](std::string name) {
            return [this, name] { calls_.push_back(name); };
        };
        commands.sharePrinter = record("share");
        commands.setupRemotePrinter = [this](const std::string& id) {
            calls_.push_back("setup " + id);
            return setupAnswer_;
        };
        commands.logOut = recordPlain("logOut");
        commands.loginControllerOk = recordPlain("loginControllerOk");
        commands.printerProperties = record("properties");
        commands.openRemoteSetup = record("openSetup");
        commands.showJobList = recordPlain("jobList");
        commands.findPrinter = recordPlain("find");
        commands.showPermissions = recordPlain("permissions");
        commands.showPreferences = recordPlain("preferences");
        commands.updateProfile = recordPlain("profile");
        commands.changePassword = recordPlain("changePassword");
        commands.checkUpdates = recordPlain("checkUpdates");
        return commands;
    }
    void open(MainWindowCommands commands) {
        config_.setToken("tok-carol");
        window_ = std::make_unique<MainWindow>(
            MainWindow::Collaborators{config_, provider_, translation_}, std::move(commands));
        window_->show();
    }
    void installTranslation(const std::string& sections) {
        std::filesystem::create_directories(config_.getLangDir());
        ScratchDirectory::writeFile(config_.getLangDir() / "de.xml",
                                    "<l name=\"Deutsch\">" + sections + "</l>");
        config_.setTranslation("de.xml");
        translation_.loadAvailable();
        ASSERT_TRUE(translation_.loadCurrent());
    }
    void selectLocal(int row) { window_->tvLocal.selectRow(row); }
    void selectRemote(int row) { window_->tvRemote.selectRow(row); }
    // The enabled state of every selection command, twins included, as one text.
    std::string selectionCommands() const {
        std::string text;
        auto add = [&text](const char* name, bool enabled) {
            text += std::string(name) + (enabled ? "+ " : "- ");
        };
        add("btnShare", window_->btnShare.isEnabled());
        add("btnProperties", window_->btnProperties.isEnabled());
        add("itmShare", window_->itmShare.isEnabled() && window_->itmShare2.isEnabled());
        add("itmUnshare", window_->itmUnshare.isEnabled() && window_->itmUnshare2.isEnabled());
        add("itmProperties",
            window_->itmProperties.isEnabled() && window_->itmProperties2.isEnabled());
        add("btnSetupRemote", window_->btnSetupRemote.isEnabled() &&
                                  window_->itmSetupRemote.isEnabled() &&
                                  window_->itmSetupRemote2.isEnabled());
        return text;
    }

    ScratchDirectory scratch_;
    ConsoleConfig config_{scratch_.path()};
    Person user_;
    PermissionArray permissions_;
    RemotePrinterArray remotePrinters_;
    LocalPrinterArray localPrinters_;
    NoDispatch dispatcher_;
    JobArray jobs_{dispatcher_, {[this] { return scratch_.path(); }, [] {}}};
    Translation translation_{config_};
    ConsoleInetProvider provider_{
        config_, user_, {permissions_, remotePrinters_, localPrinters_, jobs_}, translation_};
    std::vector<std::string> calls_;
    bool setupAnswer_ = true;
    std::unique_ptr<MainWindow> window_;
};

TEST_F(MainWindowTest, SignedOutEveryPrinterCommandIsDisabledEvenWithASelection) {
    open(allCommands());
    window_->reloadView(signedOut());
    selectLocal(0);
    selectRemote(0);
    EXPECT_EQ(selectionCommands(),
              "btnShare- btnProperties- itmShare- itmUnshare- itmProperties- btnSetupRemote- ");
    for (const QWidget* control :
         {static_cast<QWidget*>(&window_->btnActivity), static_cast<QWidget*>(&window_->btnFind)})
        EXPECT_FALSE(control->isEnabled());
    EXPECT_FALSE(window_->itmLogout.isEnabled());
    EXPECT_FALSE(window_->itmProfile2.isEnabled());
    QTest::mouseClick(&window_->btnShare, Qt::LeftButton);
    window_->itmShare2.trigger();
    window_->itmSetupRemote.trigger();
    EXPECT_TRUE(calls_.empty());
    EXPECT_EQ(window_->statusImage(), QStringLiteral("planeX"));
    for (const QWidget* control : {&window_->lUser, &window_->lDomain, &window_->lSubscription})
        EXPECT_TRUE(control->isHidden());
    EXPECT_TRUE(window_->btnUpgradeNow.isHidden());
}

TEST_F(MainWindowTest, SignedInTheSelectionDecidesWhatCanBeSharedOrUnshared) {
    open(allCommands());
    window_->reloadView(signedIn());
    EXPECT_EQ(selectionCommands(),
              "btnShare- btnProperties- itmShare- itmUnshare- itmProperties- btnSetupRemote- ");
    EXPECT_EQ(window_->btnShare.text(), QStringLiteral("Share"));

    selectLocal(0);  // shared
    EXPECT_EQ(selectionCommands(),
              "btnShare+ btnProperties+ itmShare- itmUnshare+ itmProperties+ btnSetupRemote- ");
    EXPECT_EQ(window_->btnShare.text(), QStringLiteral("Unshare"));
    selectLocal(1);  // not shared
    EXPECT_EQ(selectionCommands(),
              "btnShare+ btnProperties+ itmShare+ itmUnshare- itmProperties+ btnSetupRemote- ");
    EXPECT_EQ(window_->btnShare.text(), QStringLiteral("Share"));
    selectRemote(1);
    EXPECT_TRUE(window_->btnSetupRemote.isEnabled());

    QTest::mouseClick(&window_->btnShare, Qt::LeftButton);
    window_->itmShare2.trigger();
    window_->itmUnshare.trigger();  // disabled: nothing
    QTest::mouseClick(&window_->btnProperties, Qt::LeftButton);
    QTest::mouseClick(&window_->btnSetupRemote, Qt::LeftButton);
    EXPECT_EQ(calls_, (std::vector<std::string>{"share Annex_Queue", "share Annex_Queue",
                                                "properties Annex_Queue",
                                                "setup 22222222-3333-4444-5555-666666666666",
                                                "openSetup 22222222-3333-4444-5555-666666666666"}));
    EXPECT_TRUE(window_->btnActivity.isEnabled());
    EXPECT_TRUE(window_->itmLogout2.isEnabled());
    EXPECT_EQ(window_->statusImage(), QStringLiteral("plane"));
}

TEST_F(MainWindowTest, AfterAFailureTheStoredTokenStillAllowsTheSelectionCommands) {
    open(allCommands());
    MainViewState failed = signedIn();
    failed.active = false;
    window_->reloadView(failed);
    selectLocal(0);
    EXPECT_TRUE(window_->btnShare.isEnabled());
    EXPECT_FALSE(window_->btnFind.isEnabled());
    EXPECT_FALSE(window_->itmLogout.isEnabled());
}

TEST_F(MainWindowTest, SigningOutDisablesTheSelectionCommandsBeforeTheNextRefresh) {
    open(allCommands());
    window_->reloadView(signedIn());
    selectLocal(0);
    selectRemote(0);
    ASSERT_TRUE(window_->btnShare.isEnabled());
    // The controller refreshes, then forgets the token, then shows the sign-in dialog.
    config_.setToken("");
    window_->showLoginDialog();
    EXPECT_EQ(selectionCommands(),
              "btnShare- btnProperties- itmShare- itmUnshare- itmProperties- btnSetupRemote- ");
    window_->itmUnshare2.trigger();
    EXPECT_TRUE(calls_.empty());
}

// The account's name comes from the service: a long one made the window wider than the screen
// (and a very long one froze it while laying the text out).
TEST_F(MainWindowTest, ALongAccountNameFromTheServiceDoesNotWidenTheWindow) {
    open(allCommands());
    const int screenWidth = QGuiApplication::primaryScreen()->availableGeometry().width();
    for (const size_t length : {size_t{254}, size_t{20'000}}) {
        MainViewState state = signedIn();
        state.user = std::string(length, 'x');
        state.domain = std::string(length, 'y') + ".example";
        window_->reloadView(state);
        // The layout follows the new texts once its request is handled.
        QCoreApplication::sendPostedEvents();
        EXPECT_LE(window_->minimumSizeHint().width(), screenWidth) << length;
        EXPECT_TRUE(window_->lUser.text().startsWith(QStringLiteral("xxxxxxxx"))) << length;
    }
}

TEST_F(MainWindowTest, CommandsOfAbsentWindowsStayDisabled) {
    MainWindowCommands commands = allCommands();
    commands.printerProperties = nullptr;
    commands.findPrinter = nullptr;
    commands.showJobList = nullptr;
    commands.updateProfile = nullptr;
    commands.openRemoteSetup = nullptr;
    open(std::move(commands));
    window_->reloadView(signedIn());
    selectLocal(1);
    selectRemote(0);
    EXPECT_EQ(selectionCommands(),
              "btnShare+ btnProperties- itmShare+ itmUnshare- itmProperties- btnSetupRemote+ ");
    EXPECT_FALSE(window_->btnFind.isEnabled());
    EXPECT_FALSE(window_->itmActivity2.isEnabled());
    EXPECT_FALSE(window_->itmProfile.isEnabled());
    EXPECT_TRUE(window_->itmChangePassword.isEnabled());
    window_->tvLocal.doubleClicked(window_->localModel().index(1, 0));
    // A printer that can be set up, without the setup window: said so, nothing else.
    QTest::mouseClick(&window_->btnSetupRemote, Qt::LeftButton);
    ASSERT_NE(window_->alertBox(), nullptr);
    EXPECT_EQ(calls_, std::vector<std::string>{"setup 11111111-2222-3333-4444-555555555555"});
}

TEST_F(MainWindowTest, SelectionFollowsThePrinterAcrossARefresh) {
    open(allCommands());
    window_->reloadView(signedIn());
    selectLocal(1);
    selectRemote(0);
    MainViewState reordered = signedIn();
    std::swap(reordered.localPrinters[0], reordered.localPrinters[1]);
    reordered.localPrinters[0].shared = true;
    std::swap(reordered.remotePrinters[0], reordered.remotePrinters[1]);
    window_->reloadView(reordered);
    QTest::mouseClick(&window_->btnShare, Qt::LeftButton);
    QTest::mouseClick(&window_->btnSetupRemote, Qt::LeftButton);
    ASSERT_EQ(calls_.size(), 3u);
    EXPECT_EQ(calls_[0], "share Annex_Queue");
    EXPECT_EQ(calls_[1], "setup 11111111-2222-3333-4444-555555555555");
    EXPECT_EQ(window_->btnShare.text(), QStringLiteral("Unshare"));

    // The printer gone: no selection, nothing to act on.
    MainViewState without = signedIn();
    without.localPrinters.erase(without.localPrinters.begin() + 1);
    window_->reloadView(without);
    EXPECT_FALSE(window_->btnShare.isEnabled());
}

TEST_F(MainWindowTest, TheAccountAreaShowsPremiumOrThePageLimit) {
    open(allCommands());
    MainViewState state = signedIn();
    state.account = MainViewState::Account::PageLimit;
    state.freePages = 0;
    window_->reloadView(state);
    EXPECT_FALSE(window_->lSubscriptionLabel.isHidden());
    EXPECT_EQ(window_->lSubscriptionLabel.text(), QStringLiteral("Page limit:"));
    EXPECT_EQ(window_->lSubscription.text(), QStringLiteral("0"));
    EXPECT_FALSE(window_->btnUpgradeNow.isHidden());
    EXPECT_TRUE(window_->imgSubscription.isHidden());

    state.account = MainViewState::Account::Premium;
    window_->reloadView(state);
    EXPECT_TRUE(window_->lSubscriptionLabel.isHidden());
    EXPECT_EQ(window_->lSubscription.text(), QStringLiteral("Premium"));
    EXPECT_FALSE(window_->imgSubscription.isHidden());
    EXPECT_TRUE(window_->btnUpgradeNow.isHidden());

    state.account = MainViewState::Account::Hidden;
    window_->reloadView(state);
    for (const QWidget* control : {static_cast<QWidget*>(&window_->lSubscriptionLabel),
                                   static_cast<QWidget*>(&window_->lSubscription),
                                   static_cast<QWidget*>(&window_->imgSubscription),
                                   static_cast<QWidget*>(&window_->btnUpgradeNow)})
        EXPECT_TRUE(control->isHidden());
}

TEST_F(MainWindowTest, NewJobsChangeTheStatusImageAndTheDefaultButton) {
    open(allCommands());
    MainViewState state = signedIn();
    state.newJobs = true;
    window_->reloadView(state);
    EXPECT_EQ(window_->statusImage(), QStringLiteral("planeT"));
    EXPECT_TRUE(window_->btnActivity.isDefault());
    state.newJobs = false;
    window_->reloadView(state);
    EXPECT_EQ(window_->statusImage(), QStringLiteral("plane"));
    EXPECT_FALSE(window_->btnActivity.isDefault());
    EXPECT_EQ(window_->statusItem() != nullptr, QSystemTrayIcon::isSystemTrayAvailable());
}

TEST_F(MainWindowTest, RowsAreShownAsTheirPlainTextWithTheDefaultMarkFromTheRow) {
    open(allCommands());
    MainViewState state = signedIn();
    state.user = "<b>carol</b>";
    state.remotePrinters[0].title = "<i>Laser</i> & co";
    window_->reloadView(state);
    EXPECT_EQ(window_->lUser.text(), QStringLiteral("<b>carol</b>"));
    EXPECT_EQ(window_->lUser.textFormat(), Qt::PlainText);
    RemotePrinterTableModel& remote = window_->remoteModel();
    EXPECT_EQ(remote.index(0, RemotePrinterTableModel::kPrinter).data().toString(),
              QStringLiteral("<i>Laser</i> & co"));
    EXPECT_TRUE(remote.index(0, RemotePrinterTableModel::kPrinter).data(kIsDefaultRole).toBool());
    EXPECT_EQ(remote.index(1, RemotePrinterTableModel::kPrinter).data().toString(),
              QStringLiteral("\tPlotter"));
    EXPECT_FALSE(remote.index(1, RemotePrinterTableModel::kPrinter).data(kIsDefaultRole).toBool());
    EXPECT_EQ(remote.index(1, RemotePrinterTableModel::kOwner).data().toString(),
              QStringLiteral("Caz (my)"));
    LocalPrinterTableModel& local = window_->localModel();
    EXPECT_EQ(local.index(1, LocalPrinterTableModel::kStatus).data().toString(),
              QStringLiteral("Paused"));
    EXPECT_EQ(local.index(0, LocalPrinterTableModel::kSharing).data().toBool(), true);
}

TEST_F(MainWindowTest, TranslatedTextsReachTwinItemsAndColumnHeaders) {
    // As at start-up: the window exists before the translation is loaded.
    open(allCommands());
    window_->reloadView(signedIn());
    EXPECT_EQ(window_->itmShare.text(), QStringLiteral("Share"));
    installTranslation(
        "<section id=\"MainMenu\"><text id=\"Share\">Freigeben</text>"
        "<text id=\"Exit\">Beenden</text></section>"
        "<section id=\"HTML\"><text id=\"Printer\">Drucker</text>"
        "<text id=\"Unshare\">Nicht freigeben</text></section>");
    window_->reloadView(signedIn());
    EXPECT_EQ(window_->itmShare.text(), QStringLiteral("Freigeben"));
    EXPECT_EQ(window_->itmShare2.text(), QStringLiteral("Freigeben"));
    EXPECT_EQ(window_->itmExit2.text(), QStringLiteral("Beenden"));
    EXPECT_EQ(window_->localModel().headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
              QStringLiteral("Drucker"));
    EXPECT_EQ(window_->remoteModel().headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
              QStringLiteral("Drucker"));
    selectLocal(0);
    EXPECT_EQ(window_->btnShare.text(), QStringLiteral("Nicht freigeben"));
}

TEST_F(MainWindowTest, SheetsComeOnTheWindowAndAnswerTheController) {
    open(allCommands());
    window_->hide();
    std::vector<bool> answers;
    window_->showChoiceSheet(
        {ChoiceSheet::Kind::LoginFailed, "Cannot connect", "<b>why</b>", "Try Again", "Log Out"},
        [&answers](bool chosen) { answers.push_back(chosen); });
    EXPECT_TRUE(window_->isVisible());
    QMessageBox* box = window_->alertBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->informativeText(), QStringLiteral("<b>why</b>"));
    QTest::mouseClick(static_cast<QWidget*>(box->defaultButton()), Qt::LeftButton);
    EXPECT_EQ(answers, std::vector<bool>{true});
}

TEST_F(MainWindowTest, TheSignInDialogIsReusedAndRefilledAndReportsBack) {
    open(allCommands());
    config_.setServers("https://a.example");
    config_.setService("https://a.example/tdService.asmx");
    window_->showLoginDialog();
    LoginController* dialog = window_->loginDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    dialog->hide();
    config_.setServers("https://a.example,https://b.example");
    window_->showLoginDialog();
    EXPECT_EQ(window_->loginDialog(), dialog);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->cmServer.count(), 2);
    static_cast<LoginControllerDelegate*>(window_.get())->loginControllerOk();
    EXPECT_EQ(calls_, std::vector<std::string>{"loginControllerOk"});
}

TEST_F(MainWindowTest, ThePopUpShowsTheControllersNotice) {
    open(allCommands());
    window_->showStatusMessage("Report.pdf", "sent", 0, IconTipController::kDeliveryResult);
    EXPECT_TRUE(window_->iconTip().isVisible());
    EXPECT_EQ(window_->iconTip().lTitle.text(), QStringLiteral("Report.pdf"));
    EXPECT_EQ(window_->iconTip().messageType(), IconTipController::kDeliveryResult);
    window_->setStatusText("Connecting...");
    EXPECT_EQ(window_->lStatus.text(), QStringLiteral("Connecting..."));
}

// The settings and account windows are made once, kept, refilled on each opening and put away
// when the session ends; the update window outlives the session.
TEST_F(MainWindowTest, SecondaryWindowsAreKeptRefilledAndClosedWithTheSession) {
    open(allCommands());
    ScratchDirectory home("velmora-window-home");
    const AutostartEntry autostart(home / "autostart" / AutostartEntry::kFileName, "/usr/bin/x");
    config_.setFastCheckInterval(42);
    window_->showPreferences(autostart, [] {});
    PreferencesController* preferences = window_->preferencesWindow();
    ASSERT_NE(preferences, nullptr);
    EXPECT_EQ(preferences->timeoutField.text(), QStringLiteral("42"));
    config_.setFastCheckInterval(43);
    window_->showPreferences(autostart, [] {});
    EXPECT_EQ(window_->preferencesWindow(), preferences);
    EXPECT_EQ(preferences->timeoutField.text(), QStringLiteral("43"));

    user_.setProperty(Person::kLogin, "carol");
    window_->showProfile(user_, [] {});
    ASSERT_NE(window_->profileWindow(), nullptr);
    EXPECT_EQ(window_->profileWindow()->lUserId.text(), QStringLiteral("carol"));
    window_->showChangePassword(user_);
    ASSERT_NE(window_->changePasswordWindow(), nullptr);
    window_->changePasswordWindow()->eOldPassword.setText(QStringLiteral("typed"));
    window_->showChangePassword(user_);
    EXPECT_TRUE(window_->changePasswordWindow()->eOldPassword.text().isEmpty());
    window_->showUpdateWindow({"http://updates.example/v.deb", 2003, 2048, "2.0.3 (2.0 Mb)"});
    ASSERT_NE(window_->updateWindow(), nullptr);

    window_->closeSecondaryWindows();
    EXPECT_FALSE(preferences->isVisible());
    EXPECT_FALSE(window_->profileWindow()->isVisible());
    EXPECT_FALSE(window_->changePasswordWindow()->isVisible());
    EXPECT_TRUE(window_->updateWindow()->isVisible());
}

// Pictures of the window for the README, taken as the tests run.
class ScreenshotTest : public MainWindowTest {
  protected:
    static void save(QWidget& widget, const char* name) { test::saveScreenshot(widget, name); }
};

TEST_F(ScreenshotTest, Windows) {
    open(allCommands());
    MainViewState out = signedOut();
    out.remotePrinters.clear();
    window_->reloadView(out);
    window_->setStatusText("Not signed in");
    save(*window_, "main-window-signed-out");

    MainViewState in = signedIn();
    in.remotePrinters[1].title = "Plotter";
    in.newJobs = true;
    window_->reloadView(in);
    window_->tvLocal.selectRow(1);
    window_->setStatusText("");
    save(*window_, "main-window-signed-in");

    config_.setLastEmail("carol@example.test");
    config_.setServers("https://print.example");
    window_->showLoginDialog();
    window_->loginDialog()->adjustSize();
    save(*window_->loginDialog(), "sign-in-dialog");

    window_->showStatusMessage("Report.pdf", "successfully sent for printing on Office", 0,
                               IconTipController::kDeliveryResult);
    save(window_->iconTip(), "status-pop-up");
}

}  // namespace
}  // namespace velmora::console
