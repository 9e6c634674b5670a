// The seam where the main window plugs into the program.
#include "console/app/controller/ConsoleProgram.h"
#include "console/app/ui/JobListController.h"
#include "console/app/ui/MainWindow.h"

namespace velmora::console {

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
        auto window = std::make_unique<MainWindow>(
            MainWindow::Collaborators{context.config(), context.inetProvider(),
                                      context.translator()},
            std::move(commands));
        window->show();
        return window;
    };
}

}  // namespace velmora::console
