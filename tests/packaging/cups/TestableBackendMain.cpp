// The "velmora" backend for tests: the same program, with its spool folder and programs read
// from "velmora-backend.settings" beside the program itself ("key=value" lines: spool-dir,
// converter, sender, max-raster-bytes, queue-policy and any number of sender-argument). The
// scheduler starts backends with fixed arguments, so the settings cannot come as arguments. Built
// with the tests only.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "packaging/cups/Backend.h"

namespace {

velmora::backend::BackendSettings settingsBesideProgram() {
    velmora::backend::BackendSettings settings;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe");
    std::ifstream in(program.parent_path() / "velmora-backend.settings");
    for (std::string line; std::getline(in, line);) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "spool-dir")
            settings.spoolRoot = value;
        else if (key == "converter")
            settings.converterPath = value;
        else if (key == "sender")
            settings.senderPath = value;
        else if (key == "sender-argument")
            settings.senderLeadingArguments.push_back(value);
        else if (key == "queue-policy")
            settings.queuePolicy = value;
        else if (key == "max-raster-bytes")
            settings.maxRasterBytes = std::stoull(value);
    }
    return settings;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const char* printer = std::getenv("PRINTER");
    return velmora::backend::Backend::run(arguments, printer != nullptr ? printer : "",
                                          settingsBesideProgram());
}
