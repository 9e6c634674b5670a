// velmora-queue-helper: started as root by pkexec for a user who may not administer the print
// system, with one queue request as its arguments.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "console/remote/QueueHelper.h"
#include "core/config/Config.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    velmora::console::LpadminCommand::Settings settings;
    settings.systemDir = velmora::Config::defaultSystemDir();
    settings.opPolicy = VELMORA_QUEUE_POLICY;
    // pkexec names the user it runs us for; run by root itself, that is root.
    uid_t requester = ::getuid();
    if (const char* pkexecUid = std::getenv("PKEXEC_UID"))
        requester = static_cast<uid_t>(std::strtoul(pkexecUid, nullptr, 10));
    std::string error;
    const int status = velmora::console::QueueHelper::run(arguments, settings, requester, error);
    if (status != 0)
        std::fprintf(stderr, "velmora-queue-helper: %s\n", error.c_str());
    return status;
}
