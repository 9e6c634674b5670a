// velmora-sender for tests: the same program, with the shared folder taken from a first
// argument "--system-dir=PATH" instead of the compiled-in one. Built with the tests only and
// never installed.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "sender/SenderProgram.h"

int main(int argc, char** argv) {
    constexpr std::string_view kFlag = "--system-dir=";
    if (argc < 2 || std::string_view(argv[1]).substr(0, kFlag.size()) != kFlag) {
        std::fprintf(stderr, "usage: %s --system-dir=PATH [key=value ...]\n", argv[0]);
        return 2;
    }
    const std::vector<std::string> arguments(argv + 2, argv + argc);
    return velmora::SenderProgram::run(arguments,
                                       std::string(std::string_view(argv[1]).substr(kFlag.size())));
}
