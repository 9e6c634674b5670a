#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "console/app/controller/AppController.h"
#include "console/app/controller/MainView.h"
#include "console/app/ui/Translation.h"
#include "console/jobs/HTTPServer.h"
#include "console/jobs/JobArray.h"
#include "console/jobs/LocalPrinterArray.h"
#include "console/jobs/Processor.h"
#include "console/jobs/QtJobPrinter.h"
#include "console/remote/QueueChanger.h"
#include "console/remote/VirtualPrinter.h"
#include "console/service/ConsoleConfig.h"
#include "console/service/ConsoleInetProvider.h"
#include "core/account/PermissionArray.h"
#include "core/account/Person.h"
#include "core/model/RemotePrinterArray.h"
#include "platform/Logger.h"
#include "platform/QtRunLoop.h"

namespace velmora::console {

// Owns the console's process-wide objects, creates them once in their order and hands each the
// collaborators it uses; nothing of it is global. Lives on the main thread, inside the Qt
// application.
class AppContext {
  public:
    struct Options {
        std::filesystem::path systemDir = Config::defaultSystemDir();
        std::filesystem::path duplexPpd = VELMORA_DUPLEX_PPD_PATH;  // the installed one
        std::string userName;                                       // "" for the process's own
        bool headless = false;
        bool startHidden = false;                 // the window waits in the tray (a start at login)
        uint16_t directPort = HTTPServer::kPort;  // 0: any free port
        bool announce = true;                     // publish the direct print server
        std::string printServer;                  // "" for the system's scheduler
        // How queues of remote printers are changed; the installed way when not given.
        std::optional<QueueChanger::Settings> queueChanger;
        std::chrono::milliseconds deliveryPause = std::chrono::seconds(5);
    };

    explicit AppContext(Options options);
    // shutdown() if it has not run.
    ~AppContext();
    AppContext(const AppContext&) = delete;
    AppContext& operator=(const AppContext&) = delete;

    // The quit sequence after applicationWillTerminate: the run loop stops (releasing every
    // thread waiting for it), then the polling and delivery result threads are joined, the
    // queue worker finishes what it was asked and the processor's workers are joined.
    void shutdown();

    const Options& options() const { return options_; }
    QtRunLoop& runLoop() { return runLoop_; }
    ConsoleConfig& config() { return config_; }
    ConsoleInetProvider& inetProvider() { return inetProvider_; }
    Person& currentUser() { return currentUser_; }
    LocalPrinterArray& localPrinters() { return localPrinters_; }
    RemotePrinterArray& remotePrinters() { return remotePrinters_; }
    PermissionArray& permissions() { return permissions_; }
    JobArray& jobs() { return jobs_; }
    Processor& processor() { return processor_; }
    Translation& translator() { return translator_; }
    VirtualPrinter& virtualPrinter() { return virtualPrinter_; }
    HTTPServer& httpServer() { return httpServer_; }
    MainView& mainView() { return mainView_; }
    AppController& appController() { return appController_; }

  private:
    static VirtualPrinter::Settings queueSettings(const Options& options);
    // The print panel of a job printed "with the panel": over the console's active window.
    static QtJobPrinter::PrintPanel printPanel(bool headless);
    MainView::Settings mainViewSettings();

    Options options_;
    Logger logger_;
    QtRunLoop runLoop_;
    ConsoleConfig config_;
    // Before the service client, which keeps a reference to it for its error texts.
    Translation translator_;
    Person currentUser_;
    LocalPrinterArray localPrinters_;
    RemotePrinterArray remotePrinters_;
    PermissionArray permissions_;
    JobArray jobs_;
    ConsoleInetProvider inetProvider_;
    QtJobPrinter jobPrinter_;
    Processor processor_;
    VirtualPrinter virtualPrinter_;
    HTTPServer httpServer_;
    MainView mainView_;
    AppController appController_;
    bool shutDown_ = false;
};

}  // namespace velmora::console
