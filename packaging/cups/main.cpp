// The CUPS backend "velmora", installed as /usr/lib/cups/backend/velmora (root, mode 0700).
#include <cstdlib>
#include <string>
#include <vector>

#include "packaging/cups/Backend.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    // The scheduler names the job's queue here; it is part of the backend interface, like the
    // arguments, and no setting of ours.
    const char* printer = std::getenv("PRINTER");
    return velmora::backend::Backend::run(arguments, printer != nullptr ? printer : "",
                                          velmora::backend::BackendSettings::installed());
}
