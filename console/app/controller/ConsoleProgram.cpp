#include "console/app/controller/ConsoleProgram.h"

#include <unistd.h>

#include <QApplication>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "console/app/controller/HeadlessUi.h"
#include "console/app/controller/SingleInstance.h"
#include "console/app/controller/StderrLogSink.h"
#include "console/app/controller/TerminationSignals.h"
#include "core/Deployment.h"
#include "platform/Logger.h"
#include "platform/SyslogSink.h"

namespace velmora::console {

namespace {

// Qt ends the process when its platform cannot open a display; say why and how to run instead.
// The names are the ones Qt itself consults to find a display.
bool displayAvailable() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return true;
    }
    return false;
}

constexpr const char* kUsage =
    "usage: velmora [--headless | --hidden]\n"
    "  --headless  run without a window (print server); log lines also go to standard error\n"
    "  --hidden    start with the window hidden in the tray (as the start at login does)\n";
constexpr const char* kTestUsage =
    "test options: --system-dir DIR, --duplex-ppd FILE, --direct-port N (0: any), "
    "--runtime-dir DIR\n";

std::optional<uint16_t> portFrom(std::string_view text) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value > 65535)
        return std::nullopt;
    return static_cast<uint16_t>(value);
}

}  // namespace

std::optional<ConsoleProgram::Options> ConsoleProgram::parse(
    const std::vector<std::string>& arguments, bool testOptions, std::string& error) {
    Options options;
    for (size_t index = 0; index < arguments.size(); ++index) {
        std::string name = arguments[index];
        std::optional<std::string> value;
        if (const size_t equals = name.find('='); equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
        }
        const bool takesValue = testOptions && (name == "--system-dir" || name == "--duplex-ppd" ||
                                                name == "--direct-port" || name == "--runtime-dir");
        if (takesValue && !value) {
            if (index + 1 == arguments.size()) {
                error = name + " needs a value";
                return std::nullopt;
            }
            value = arguments[++index];
        }
        if (name == "--headless" && !value) {
            options.context.headless = true;
        } else if (name == "--hidden" && !value) {
            options.context.startHidden = true;
        } else if ((name == "--help" || name == "-h") && !value) {
            options.help = true;
        } else if (takesValue && name == "--system-dir" && !value->empty()) {
            options.context.systemDir = *value;
        } else if (takesValue && name == "--duplex-ppd" && !value->empty()) {
            options.context.duplexPpd = *value;
        } else if (takesValue && name == "--runtime-dir" && !value->empty()) {
            options.runtimeDir = *value;
        } else if (takesValue && name == "--direct-port") {
            const auto port = portFrom(*value);
            if (!port) {
                error = "--direct-port needs a port number from 0 to 65535";
                return std::nullopt;
            }
            options.context.directPort = *port;
        } else {
            error = "unknown option " + arguments[index];
            return std::nullopt;
        }
    }
    return options;
}

int ConsoleProgram::run(int argc, char** argv, bool testOptions) {
    // Before any thread exists, so that none of them ever takes these signals.
    TerminationSignals::blockInThisThread();
    std::string error;
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    const auto options = parse(arguments, testOptions, error);
    if (!options || options->help) {
        if (!options)
            std::fprintf(stderr, "velmora: %s\n", error.c_str());
        std::fputs(kUsage, options ? stdout : stderr);
        if (testOptions)
            std::fputs(kTestUsage, options ? stdout : stderr);
        return options ? 0 : kUsageError;
    }
    const bool headless = options->context.headless;
    const UiFactory windowFactory = windowUiFactory();
    if (!headless && !windowFactory) {
        std::fputs(
            "velmora: the window is not available in this build; start it with "
            "--headless\n",
            stderr);
        return kUsageError;
    }

    if (!headless && !displayAvailable()) {
        std::fputs("velmora: there is no display to open the window on; start it with --headless\n",
                   stderr);
        return kUsageError;
    }

    // Qt's offscreen platform without a display or an environment variable.
    std::vector<std::string> qtArguments = {argc > 0 ? argv[0] : "velmora"};
    if (headless)
        qtArguments.insert(qtArguments.end(), {"-platform", "offscreen"});
    std::vector<char*> qtArgv;
    for (std::string& argument : qtArguments)
        qtArgv.push_back(argument.data());
    qtArgv.push_back(nullptr);
    int qtArgc = static_cast<int>(qtArguments.size());
    QApplication application(qtArgc, qtArgv.data());
    QApplication::setApplicationName("Velmora");
    QApplication::setQuitOnLastWindowClosed(false);

    if (headless)
        Logger::setSink(
            std::make_shared<StderrLogSink>(std::make_shared<SyslogSink>(), 2, "velmora"));
    const Logger logger(std::string(deployment::kLogSubsystem), "main");

    const uid_t uid = ::getuid();
    const auto runtimeDir =
        options->runtimeDir ? options->runtimeDir : SingleInstance::defaultRuntimeDir(uid);
    SingleInstance instance(runtimeDir.value_or("/nonexistent"), uid);
    if (instance.claim() == SingleInstance::Role::Second) {
        logger.notice("The console already runs for this user: asked it to show its window");
        return 0;
    }
    TerminationSignals quitSignals([&logger](int signal) {
        logger.notice("Quit on signal {}", signal);
        QCoreApplication::quit();
    });

    AppContext context(options->context);
    std::unique_ptr<MainViewUi> ui;
    if (headless) {
        auto headlessUi = std::make_unique<HeadlessUi>(context.runLoop());
        HeadlessUi& front = *headlessUi;
        headlessUi->setSignInRetry([&context] { context.mainView().retrySignInFromSetup(); });
        context.mainView().setServiceReachedObserver([&front] { front.serviceReached(); });
        ui = std::move(headlessUi);
    } else {
        ui = windowFactory(context);
        if (!ui) {
            logger.error("The window could not be made");
            return kUsageError;
        }
    }
    context.mainView().attachUi(*ui);
    instance.setRaiseHandler([&ui] { ui->raiseWindow(); });

    context.mainView().awakeFromNib();
    context.appController().applicationDidFinishLaunching();
    const int status = QApplication::exec();
    // The threads end first, so none of them uses the service while the sign-off is sent.
    context.shutdown();
    context.appController().applicationWillTerminate();
    logger.notice("Quit");
    return status;
}

}  // namespace velmora::console
