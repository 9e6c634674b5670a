#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "console/app/MainViewUi.h"
#include "console/app/controller/DeliveryResultListener.h"
#include "console/app/controller/FastCheckPoller.h"
#include "console/app/controller/PrinterSharing.h"
#include "console/app/controller/QueueSync.h"
#include "console/app/controller/SignInState.h"
#include "console/jobs/JobArray.h"
#include "console/jobs/Processor.h"
#include "platform/Logger.h"

namespace velmora {
class NetService;
class PermissionArray;
class Person;
class RemotePrinter;
class RemotePrinterArray;
class RunLoop;
}  // namespace velmora

namespace velmora::console {

class ConsoleConfig;
class ConsoleInetProvider;
class LocalPrinterArray;
class Translator;
class VirtualPrinter;

// The console's main controller without its widgets: start-up, sign-in, polling, delivery
// results, the announcement on the local network and the printer commands. It runs on the
// main thread and reaches its front end (the window, or the log of a console without one)
// only through MainViewUi. Commands name printers by identity (a local printer by its queue
// name, a remote one by its public id) and look them up again when they act.
class MainView : public JobArrayDelegate, public ProcessorDelegate {
  public:
    struct Collaborators {
        RunLoop& mainLoop;
        ConsoleConfig& config;
        ConsoleInetProvider& inetProvider;
        Person& currentUser;
        LocalPrinterArray& localPrinters;
        RemotePrinterArray& remotePrinters;
        PermissionArray& permissions;
        JobArray& jobs;
        Processor& processor;
        const Translator& translator;
        VirtualPrinter& virtualPrinter;
    };
    struct Settings {
        std::string userName;  // whose setup and delivery results
        // Lists and loads the translations (start-up, after a pending choice was adopted).
        std::function<void()> loadTranslations;
        // Publishes the direct print server for a version number such as 1601; may be empty.
        std::function<std::unique_ptr<NetService>(int versionNumber)> announce;
        std::chrono::milliseconds deliveryPause = std::chrono::seconds(5);
    };

    MainView(Collaborators with, Settings settings);
    ~MainView() override;
    MainView(const MainView&) = delete;
    MainView& operator=(const MainView&) = delete;

    // The front end; set before awakeFromNib and kept for the controller's life.
    void attachUi(MainViewUi& ui) { ui_ = &ui; }
    // Told after every successful sign-in and poll (a console without a window resets its
    // retry pause then).
    void setServiceReachedObserver(std::function<void()> observer) {
        serviceReached_ = std::move(observer);
    }

    void awakeFromNib();
    void loginWithToken();
    void loginWithDialog();
    void loginControllerOk();
    // Without a window: the setup file is read again, and its token, if any, signs in.
    void retrySignInFromSetup();
    void fastCheck();
    void resharePrinters() { sharing_.resharePrinters(); }
    void registerBonjour();
    void jobArray_Changed(int added) override;
    void processor_ChangedJob(const Job& job) override;
    void jobListController_CheckNow() { fastCheck(); }
    // Giving a job's sender a permission: the permissions window with a rule for the sender.
    void jobListController_AddSender(const Person& sender) { showPermissionsWithPerson(sender); }
    void showStatusMessage(const std::string& notice, int messageType);
    void showStatusMessage(const std::string& notice, double interval, int messageType);
    void reloadData(bool active);
    void reloadData() { reloadData(userActive_); }

    void sharePrinter(const std::string& localTitle);
    void printerPropertiesControllerOk(const std::string& localTitle);
    // True when the printer can take this computer's jobs and its setup window may open;
    // otherwise the incompatible-printer sheet is shown.
    bool setupRemotePrinter(const std::string& publicId);
    // The incompatible-printer sheet ended with "Remove": the printer leaves the user's list.
    void remotePrinterSheetDidEnd(const std::string& publicId);
    void setupRemoteController_Ok();
    // The permissions window opens with a rule for that person (a job's sender).
    void showPermissionsWithPerson(const Person& person) {
        if (ui_ != nullptr)
            ui_->addPermissionForPerson(person);
    }

    // Asks the service for a newer build and offers it; a silent check shows no "no update"
    // and no error.
    void checkUpdates(bool silent);

    // Joins the polling and delivery result threads; the run loop must have stopped.
    void stopThreads();

    bool userActive() const { return userActive_; }
    SignInState::State signInState() const { return signIn_.state(); }
    const std::vector<std::shared_ptr<RemotePrinter>>& filteredRemotePrinters() const {
        return filteredRemotePrinters_;
    }

  private:
    std::string tr(const char* section, const char* key, const char* deflt) const;
    void schedule(double seconds, void (MainView::*operation)());
    void showFailureSheet(ChoiceSheet::Kind kind, std::string title, const std::string& error,
                          std::function<void(bool retry)> done);
    void signOutOfService();
    void saveSetup();
    void noteServiceReached();

    Collaborators with_;
    Settings settings_;
    MainViewUi* ui_ = nullptr;
    Logger logger_;
    SignInState signIn_;
    bool userActive_ = false;
    std::vector<std::shared_ptr<RemotePrinter>> filteredRemotePrinters_;
    PrinterSharing sharing_;
    QueueSync queueSync_;
    std::unique_ptr<NetService> netService_;
    std::function<void()> serviceReached_;
    // Last: they stop before anything they call into goes away.
    DeliveryResultListener listener_;
    FastCheckPoller poller_;
};

}  // namespace velmora::console
