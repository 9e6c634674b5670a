#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console/app/controller/AppContext.h"

namespace velmora::console {

class MainViewUi;

// The program `velmora`: options, the Qt application, one instance per user, the signals that
// quit it, the application context and the front end, then the event loop and the quit
// sequence. main() only chooses which options it accepts.
class ConsoleProgram {
  public:
    struct Options {
        AppContext::Options context;
        std::optional<std::filesystem::path> runtimeDir;  // the user's own when not given
        bool help = false;
    };
    // Makes the window's front end for a context; empty when this build has no window.
    using UiFactory = std::function<std::unique_ptr<MainViewUi>(AppContext& context)>;

    // `testOptions`: also accept --system-dir, --direct-port and --runtime-dir (the test twin
    // only). nullopt with the reason for anything else.
    static std::optional<Options> parse(const std::vector<std::string>& arguments, bool testOptions,
                                        std::string& error);
    static int run(int argc, char** argv, bool testOptions);
    // The window's front end; defined beside the window.
    static UiFactory windowUiFactory();

    static constexpr int kUsageError = 2;
};

}  // namespace velmora::console
