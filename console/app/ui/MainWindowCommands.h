#pragma once

#include <functional>
#include <string>

namespace velmora {
class Person;
}

namespace velmora::console {

// What the main window's buttons and menu items ask of the main controller. Printers are named
// by identity: a local printer by its queue name, a remote one by its public id. A command left
// empty belongs to a window this build does not have: its controls stay disabled.
struct MainWindowCommands {
    std::function<void(const std::string& localTitle)> sharePrinter;
    // True when the printer can take this computer's jobs, so its setup window may open.
    std::function<bool(const std::string& publicId)> setupRemotePrinter;
    // Signs out and shows the sign-in dialog.
    std::function<void()> logOut;
    std::function<void()> loginControllerOk;

    std::function<void(const std::string& localTitle)> printerProperties;
    std::function<void(const std::string& publicId)> openRemoteSetup;
    std::function<void()> showJobList;
    std::function<void()> findPrinter;
    std::function<void()> showPermissions;
    std::function<void()> showPreferences;
    std::function<void()> updateProfile;
    std::function<void()> changePassword;
    std::function<void()> checkUpdates;
    // After every refresh: the secondary windows check that what they show still exists.
    std::function<void()> listsReloaded;
    std::function<void()> closeSecondaryWindows;
    std::function<void(const Person& person)> addPermissionForPerson;
};

}  // namespace velmora::console
