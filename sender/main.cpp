// velmora-sender: started by the print backend for every job on a "velmora:/" queue.
#include <string>
#include <vector>

#include "core/config/Config.h"
#include "sender/SenderProgram.h"

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    return velmora::SenderProgram::run(arguments, velmora::Config::defaultSystemDir());
}
