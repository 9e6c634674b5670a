// The seam where the main window plugs into the program.
#include "console/app/controller/ConsoleProgram.h"
#include "console/app/ui/AutostartEntry.h"
#include "console/app/ui/JobListController.h"
#include "console/app/ui/MainWindow.h"
#include "console/app/ui/SharingWindows.h"

namespace velmora::console {

namespace {

// The sharing windows live as long as the main window's commands that open them.
void addSharingCommands(AppContext& context, MainWindowCommands& commands) {
    MainView& view = context.mainView();
    auto windows = std::make_shared<SharingWindows>(
        SharingWindows::Collaborators{context.config(), context.inetProvider(),
                                      context.localPrinters(), context.remotePrinters(),
                                      context.permissions(), context.processor(),
                                      context.virtualPrinter(), context.translator()},
        SharingWindows::Delegate{[&view](const std::string& localTitle) {
                                     view.printerPropertiesControllerOk(localTitle);
                                 },
                                 [&view] { view.setupRemoteController_Ok(); },
                                 [&view] { view.reloadData(); }});
    commands.printerProperties = [windows](const std::string& localTitle) {
        windows->printerProperties(localTitle);
    };
    commands.openRemoteSetup = [windows](const std::string& publicId) {
        windows->setupRemotePrinter(publicId);
    };
    commands.findPrinter = [windows] { windows->findPrinter(); };
    commands.showPermissions = [windows] { windows->showPermissions(); };
    commands.addPermissionForPerson = [windows](const Person& person) {
        windows->addPermissionForPerson(person);
    };
    commands.listsReloaded = [windows] { windows->listsChanged(); };
    commands.closeSecondaryWindows = [windows] { windows->closeAll(); };
}

}  // namespace

ConsoleProgram::UiFactory ConsoleProgram::windowUiFactory() {
    return [](AppContext& context) -> std::unique_ptr<MainViewUi> {
        MainView& view = context.mainView();
        MainWindowCommands commands;
        commands.sharePrinter = [&view](const std::string& localTitle) {
            view.sharePrinter(localTitle);
        };
        commands.setupRemotePrinter = [&view](const std::string& publicId) {
            return view.setupRemotePrinter(publicId);
        };
        commands.logOut = [&view] { view.loginWithDialog(); };
        commands.loginControllerOk = [&view] { view.loginControllerOk(); };
        addSharingCommands(context, commands);
        commands.checkUpdates = [&view] { view.checkUpdates(false); };
        // The window opens its own dialogs; these reach it once it exists.
        auto made = std::make_shared<MainWindow*>(nullptr);
        commands.showPreferences = [made, &view] {
            (*made)->showPreferences(AutostartEntry::forCurrentUser(),
                                     [&view] { view.reloadData(); });
        };
        commands.updateProfile = [made, &view, &context] {
            (*made)->showProfile(context.currentUser(), [&view] { view.reloadData(); });
        };
        commands.changePassword = [made, &context] {
            (*made)->showChangePassword(context.currentUser());
        };
        // Created on first use and kept, with the window's commands, until the window goes.
        auto jobList = std::make_shared<std::unique_ptr<JobListController>>();
        commands.showJobList = [&context, &view, jobList] {
            if (!*jobList) {
                *jobList = std::make_unique<JobListController>(
                    JobListController::Collaborators{context.jobs(), context.processor(),
                                                     context.config(), context.inetProvider(),
                                                     context.localPrinters(), context.translator()},
                    JobListController::Delegate{
                        [&view](const Person& sender) { view.jobListController_AddSender(sender); },
                        [&view] { view.jobListController_CheckNow(); }});
            }
            (*jobList)->show();
            (*jobList)->raise();
            (*jobList)->activateWindow();
        };
        commands.closeSecondaryWindows = [closeSharing = commands.closeSecondaryWindows, jobList] {
            if (closeSharing)
                closeSharing();
            if (*jobList)
                (*jobList)->hide();
        };
        auto window = std::make_unique<MainWindow>(
            MainWindow::Collaborators{context.config(), context.inetProvider(),
                                      context.translator()},
            std::move(commands));
        *made = window.get();
        // Hidden only where a tray icon can bring it back.
        if (!context.options().startHidden || window->statusItem() == nullptr)
            window->show();
        return window;
    };
}

}  // namespace velmora::console
