#pragma once

#include <functional>
#include <memory>
#include <string>

namespace velmora {
class PermissionArray;
class Person;
class RemotePrinterArray;
}  // namespace velmora

namespace velmora::console {

class ConsoleConfig;
class ConsoleInetProvider;
class FindPrinterController;
class JobDispatcher;
class LocalPrinterArray;
class PermissionsController;
class PrinterPropertiesController;
class SetupRemoteController;
class Translation;
class VirtualPrinter;

// The main window's secondary windows for sharing: the remote printer setup, the sharing
// properties of a local printer, the permissions and the printer search. Each is created on
// first use and reused; after every refresh of the lists each checks that what it shows still
// exists, and closes when it does not.
class SharingWindows {
  public:
    struct Collaborators {
        ConsoleConfig& config;
        ConsoleInetProvider& inetProvider;
        LocalPrinterArray& localPrinters;
        RemotePrinterArray& remotePrinters;
        PermissionArray& permissions;
        JobDispatcher& processor;
        VirtualPrinter& virtualPrinter;
        const Translation& translation;
    };
    // What the windows tell the main controller.
    struct Delegate {
        std::function<void(const std::string& localTitle)> printerPropertiesControllerOk;
        std::function<void()> setupRemoteController_Ok;
        // A printer joined or left the user's list: the main window refreshes.
        std::function<void()> reloadData;
    };

    SharingWindows(Collaborators with, Delegate delegate);
    ~SharingWindows();
    SharingWindows(const SharingWindows&) = delete;
    SharingWindows& operator=(const SharingWindows&) = delete;

    void printerProperties(const std::string& localTitle);
    void setupRemotePrinter(const std::string& publicId);
    void findPrinter();
    void showPermissions();
    // The permissions window opens with a rule for that person (a job's sender) added.
    void addPermissionForPerson(const Person& person);
    void listsChanged();
    void closeAll();

    PrinterPropertiesController* properties() const { return properties_.get(); }
    SetupRemoteController* setupRemote() const { return setupRemote_.get(); }
    FindPrinterController* findPrinterWindow() const { return findPrinter_.get(); }
    PermissionsController* permissionsWindow() const { return permissions_.get(); }

  private:
    Collaborators with_;
    Delegate delegate_;
    std::unique_ptr<PrinterPropertiesController> properties_;
    std::unique_ptr<SetupRemoteController> setupRemote_;
    std::unique_ptr<FindPrinterController> findPrinter_;
    std::unique_ptr<PermissionsController> permissions_;
};

}  // namespace velmora::console
