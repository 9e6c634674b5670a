#include "console/app/controller/MainView.h"

#include <unistd.h>

#include <string_view>

#include "console/app/controller/MainViewStateBuilder.h"
#include "console/app/controller/StatusNotice.h"
#include "console/app/ui/Translation.h"
#include "console/jobs/LocalPrinterArray.h"
#include "console/remote/VirtualPrinter.h"
#include "console/service/ConsoleConfig.h"
#include "console/service/ConsoleInetProvider.h"
#include "console/service/Translator.h"
#include "core/Deployment.h"
#include "core/account/PermissionArray.h"
#include "core/account/Person.h"
#include "core/model/RemotePrinterArray.h"
#include "platform/NetService.h"
#include "platform/RunLoop.h"

namespace velmora::console {

namespace {

constexpr double kNoticeInterval = 7.0;
constexpr int kJobNotification = 0;
constexpr int kDeliveryResult = 1;

}  // namespace

MainView::MainView(Collaborators with, Settings settings)
    : with_(with),
      settings_(std::move(settings)),
      logger_(std::string(deployment::kLogSubsystem), "main"),
      sharing_(with.config, with.inetProvider, with.localPrinters, with.virtualPrinter),
      queueSync_(with.config, with.virtualPrinter),
      listener_(with.mainLoop,
                DeliveryMessageFile(with.config.getMessageFileNameForUser(settings_.userName),
                                    ::geteuid()),
                {[this] { return with_.config.showDeliveryResult(); },
                 [this](const std::string& text) { showStatusMessage(text, kDeliveryResult); }},
                settings_.deliveryPause),
      poller_(
          with.mainLoop, [this] { fastCheck(); },
          [this] {
              return std::chrono::duration_cast<std::chrono::milliseconds>(
                  with_.config.fastCheckPause());
          }) {}

MainView::~MainView() {
    poller_.stop();
    listener_.stop();
    with_.jobs.removeDelegate(this);
    with_.processor.removeDelegate(this);
}

std::string MainView::tr(const char* section, const char* key, const char* deflt) const {
    return with_.translator.section(section, key, deflt);
}

void MainView::schedule(double seconds, void (MainView::*operation)()) {
    with_.mainLoop.postAfter(seconds, [this, operation] { (this->*operation)(); });
}

void MainView::saveSetup() {
    std::string error;
    if (!with_.config.saveSetup(error))
        logger_.error("Cannot save the setup: {}", error);
}

void MainView::noteServiceReached() {
    if (serviceReached_)
        serviceReached_();
}

void MainView::awakeFromNib() {
    logger_.notice("Initialize");
    with_.processor.addDelegate(this);
    with_.jobs.addDelegate(this);
    if (!with_.localPrinters.loadFromSystem())
        logger_.error("Cannot read the printers of this computer");
    std::string error;
    if (!with_.config.loadSetup(settings_.userName, error))
        logger_.notice("No setup loaded: {}", error);
    with_.config.loadProfileConfig();
    if (with_.config.applyPendingTranslation())
        saveSetup();
    logger_.notice("fast check time interval: {}", with_.config.fastCheckInterval());
    with_.config.applyStartupDefaults();
    if (settings_.loadTranslations)
        settings_.loadTranslations();
    listener_.start();
    reloadData();
    poller_.start();
    schedule(0.01, &MainView::loginWithToken);
    registerBonjour();
}

void MainView::loginWithToken() {
    if (with_.config.token().empty()) {
        loginWithDialog();
        return;
    }
    signIn_.connecting();
    ui_->setStatusText(
        tr("MainFrm", "Connecting", "Trying to connect to remote server. Please wait."));
    std::string error;
    const bool signedIn = with_.inetProvider.loginWithToken(error);
    ui_->setStatusText("");
    if (!signedIn) {
        reloadData(false);
        signIn_.loginFailed();
        showFailureSheet(
            ChoiceSheet::Kind::LoginFailed, tr("LoginFailedDlg", "Caption", "Login failed"), error,
            [this](bool retry) {
                schedule(0.1, retry ? &MainView::loginWithToken : &MainView::loginWithDialog);
            });
        return;
    }
    if (const std::string message = with_.config.serverMessage(); !message.empty())
        ui_->showAlertSheet(MainViewStateBuilder::plainText(message), "");
    resharePrinters();
    reloadData(true);
    signIn_.signedIn();
    if (!with_.config.defaultPrinterTipShown()) {
        with_.config.setDefaultPrinterTipShown(true);
        saveSetup();
    }
    noteServiceReached();
}

void MainView::showFailureSheet(ChoiceSheet::Kind kind, std::string title, const std::string& error,
                                std::function<void(bool retry)> done) {
    ChoiceSheet sheet{kind, std::move(title), MainViewStateBuilder::plainText(error),
                      tr("LoginFailedDlg", "Retry", "Try Again"),
                      tr("LoginFailedDlg", "Abort", "Log Out")};
    ui_->showChoiceSheet(sheet, std::move(done));
}

void MainView::loginWithDialog() {
    with_.processor.stop();
    ui_->closeSecondaryWindows();
    with_.jobs.removeAllObjects();
    with_.permissions.removeAllObjects();
    with_.localPrinters.loadFromSystem();
    with_.remotePrinters.removeAllObjects();
    reloadData(false);
    if (!with_.config.token().empty())
        signOutOfService();
    signIn_.signedOut();
    ui_->showLoginDialog();
}

// The queues of remote printers go with the session; the token is forgotten for good.
void MainView::signOutOfService() {
    with_.virtualPrinter.removeAllVirtualPrinters();
    with_.inetProvider.logoff();
    with_.config.setToken("");
    saveSetup();
}

void MainView::loginControllerOk() {
    with_.virtualPrinter.removeAllVirtualPrinters();
    with_.config.setProfile(with_.currentUser.login() + "." +
                            MainViewStateBuilder::hostOf(with_.config.service()));
    saveSetup();
    with_.config.loadProfileConfig();
    loginWithToken();
}

void MainView::retrySignInFromSetup() {
    std::string error;
    if (with_.config.loadSetup(settings_.userName, error) && !with_.config.token().empty()) {
        loginWithToken();
        return;
    }
    ui_->showLoginDialog();
}

void MainView::fastCheck() {
    if (!userActive_) {
        logger_.info("User not active, skip fastCheck");
        return;
    }
    bool changed = false;
    bool relogin = false;
    std::string error;
    if (!with_.inetProvider.fastCheck(changed, relogin, error)) {
        reloadData(false);
        signIn_.pollFailed();
        showFailureSheet(ChoiceSheet::Kind::FastCheckFailed,
                         tr("Mac.MainFrm", "FastCheckFailed", "Check for new documents failed"),
                         error, [this](bool retry) {
                             if (!retry) {
                                 schedule(0.1, &MainView::loginWithDialog);
                                 return;
                             }
                             reloadData(true);
                             signIn_.signedIn();
                             schedule(0.1, &MainView::fastCheck);
                         });
        return;
    }
    noteServiceReached();
    if (relogin)
        loginWithToken();
    else if (changed)
        reloadData(true);
}

void MainView::registerBonjour() {
    if (settings_.announce)
        netService_ = settings_.announce(InetProvider::getIntVersion());
}

void MainView::jobArray_Changed(int added) {
    if (with_.config.jobNotifications() && added > 0)
        showStatusMessage(Translation::format(tr("MainFrm", "NewJobs", "%i new job(s) arrived"),
                                              {std::to_string(added)}),
                          kJobNotification);
    reloadData();
}

void MainView::processor_ChangedJob(const Job& job) {
    if (job.status() == Job::kDone)
        fastCheck();
}

void MainView::showStatusMessage(const std::string& notice, int messageType) {
    showStatusMessage(notice, kNoticeInterval, messageType);
}

void MainView::showStatusMessage(const std::string& notice, double interval, int messageType) {
    const StatusNotice split = StatusNotice::split(notice);
    ui_->showStatusMessage(MainViewStateBuilder::plainText(split.title),
                           MainViewStateBuilder::plainText(split.text), interval, messageType);
}

void MainView::reloadData(bool active) {
    userActive_ = active;
    filteredRemotePrinters_ = MainViewStateBuilder::filterRemotePrinters(
        with_.remotePrinters, with_.localPrinters, with_.config.hideMyPrinters());
    queueSync_.sync(filteredRemotePrinters_, with_.remotePrinters, with_.localPrinters);
    const MainViewStateBuilder::Model model{with_.config,        with_.currentUser,
                                            with_.localPrinters, with_.remotePrinters,
                                            with_.translator,    with_.jobs.newJobs()};
    ui_->reloadView(MainViewStateBuilder::build(model, active, filteredRemotePrinters_));
}

void MainView::sharePrinter(const std::string& localTitle) {
    std::string error;
    switch (sharing_.sharePrinter(localTitle, error)) {
        case PrinterSharing::Result::NoPrinter:
            return;
        case PrinterSharing::Result::Failed:
            ui_->showAlertSheet(MainViewStateBuilder::plainText(error), "");
            return;
        case PrinterSharing::Result::Done:
            reloadData();
            fastCheck();
            return;
    }
}

void MainView::printerPropertiesControllerOk(const std::string& localTitle) {
    std::string error;
    switch (sharing_.printerPropertiesControllerOk(localTitle, error)) {
        case PrinterSharing::Result::NoPrinter:
            return;
        case PrinterSharing::Result::Failed:
            ui_->showAlertSheet(MainViewStateBuilder::plainText(error), "");
            return;
        case PrinterSharing::Result::Done:
            fastCheck();
            return;
    }
}

bool MainView::setupRemotePrinter(const std::string& publicId) {
    const auto printer = with_.remotePrinters.getPrinter(publicId);
    if (!printer)
        return false;
    constexpr int kCompressedBmp = 2;
    if ((printer->transportMask() & kCompressedBmp) != 0 && printer->packing())
        return true;
    ChoiceSheet sheet{
        ChoiceSheet::Kind::IncompatiblePrinter,
        tr("Mac.MainFrm", "IncompatiblePrinter",
           "This printer can't receive compressed BMP. Probably client on receiving side need "
           "to be updated."),
        "", tr("Common", "Close", "Close"), tr("Mac.SetupRemoteDlg", "Remove", "Remove")};
    ui_->showChoiceSheet(sheet, [this, publicId](bool close) {
        if (!close)
            remotePrinterSheetDidEnd(publicId);
    });
    return false;
}

void MainView::remotePrinterSheetDidEnd(const std::string& publicId) {
    std::string error;
    if (!with_.inetProvider.changePrinter(publicId, "dislike", error)) {
        ui_->showAlertSheet(MainViewStateBuilder::plainText(error), "");
        return;
    }
    if (const auto printer = with_.remotePrinters.getPrinter(publicId))
        with_.remotePrinters.removeObject(printer.get());
    reloadData();
}

void MainView::setupRemoteController_Ok() {
    reloadData();
    std::string error;
    if (!queueSync_.generatePPDFile(with_.remotePrinters, error)) {
        logger_.error("Failed to save PPD file: {}", error);
        ui_->showAlertSheet(
            tr("Mac.MainFrm", "PPDSaveFailed", "Failed to save PPD file"),
            Translation::format(
                tr("MainFrm", "PPDSaveDetails",
                   "Check that file %@ exists and has symbolic link to /etc/cups/ppd"),
                {with_.config.getPPDFileName().string()}));
    }
}

void MainView::stopThreads() {
    poller_.stop();
    listener_.stop();
}

}  // namespace velmora::console
