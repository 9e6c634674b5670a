#include "console/app/controller/AppContext.h"

#include <QApplication>
#include <QPrintDialog>

#include "console/jobs/DirectServerAnnouncement.h"
#include "core/Deployment.h"
#include "platform/NetService.h"

namespace velmora::console {

AppContext::AppContext(Options options)
    : options_(std::move(options)),
      logger_(std::string(deployment::kLogSubsystem), "main"),
      config_(options_.systemDir),
      translator_(config_),
      localPrinters_(options_.printServer),
      jobs_(processor_,
            {[this] { return config_.getProfileDir(); }, [this] { config_.saveProfileConfig(); }}),
      inetProvider_(config_, currentUser_, {permissions_, remotePrinters_, localPrinters_, jobs_},
                    translator_),
      jobPrinter_(runLoop_, printPanel(options_.headless)),
      processor_({runLoop_, jobs_, permissions_, localPrinters_, inetProvider_, jobPrinter_}),
      virtualPrinter_(queueSettings(options_)),
      httpServer_(jobs_, localPrinters_),
      mainView_({runLoop_, config_, inetProvider_, currentUser_, localPrinters_, remotePrinters_,
                 permissions_, jobs_, processor_, translator_, virtualPrinter_},
                mainViewSettings()),
      appController_(config_, inetProvider_, httpServer_, options_.directPort) {
    if (!options_.userName.empty())
        config_.setCurrentUserName(options_.userName);
    config_.setProfileSections(localPrinters_, jobs_);
}

QtJobPrinter::PrintPanel AppContext::printPanel(bool headless) {
    // Without a window nobody could answer the panel; the job prints as it came.
    if (headless)
        return {};
    return [](QPrinter& printer) {
        QPrintDialog dialog(&printer, QApplication::activeWindow());
        return dialog.exec() == QDialog::Accepted;
    };
}

AppContext::~AppContext() {
    shutdown();
}

void AppContext::shutdown() {
    if (shutDown_)
        return;
    shutDown_ = true;
    runLoop_.stop();
    mainView_.stopThreads();
    processor_.stop();
    virtualPrinter_.waitUntilIdle();
}

VirtualPrinter::Settings AppContext::queueSettings(const Options& options) {
    VirtualPrinter::Settings settings;
    settings.changer = options.queueChanger.value_or(
        QueueChanger::installedSettings(options.systemDir, options.duplexPpd));
    settings.appVersion = VELMORA_VERSION;
    return settings;
}

MainView::Settings AppContext::mainViewSettings() {
    MainView::Settings settings;
    settings.userName = options_.userName.empty() ? config_.currentUserName() : options_.userName;
    settings.deliveryPause = options_.deliveryPause;
    settings.loadTranslations = [this] {
        translator_.loadAvailable();
        translator_.loadCurrent();
    };
    if (options_.announce) {
        settings.announce = [this](int versionNumber) {
            const uint16_t port =
                options_.directPort != 0 ? options_.directPort : httpServer_.serverPort();
            if (port == 0) {
                logger_.error("The direct print server is not announced: its port is not known");
                return std::unique_ptr<NetService>();
            }
            return DirectServerAnnouncement::registerBonjour(versionNumber, port);
        };
    }
    return settings;
}

}  // namespace velmora::console
