// The seam where the main window plugs into the program.
#include "console/app/controller/ConsoleProgram.h"
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
        auto window = std::make_unique<MainWindow>(
            MainWindow::Collaborators{context.config(), context.inetProvider(),
                                      context.translator()},
            std::move(commands));
        window->show();
        return window;
    };
}

}  // namespace velmora::console
