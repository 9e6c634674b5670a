#include "console/remote/LpadminCommand.h"

#include "console/remote/QueueNames.h"
#include "core/config/Config.h"

namespace velmora::console {

const char* QueueOperation::kindName(Kind kind) {
    switch (kind) {
        case Kind::Add:
            return "add";
        case Kind::Rename:
            return "rename";
        case Kind::SwitchPpd:
            return "ppd";
        case Kind::Remove:
            return "remove";
    }
    return "unknown";
}

std::string LpadminCommand::ppdOwnerOf(const Settings& settings) {
    return settings.ppdOwner.empty() ? Config().currentUserName() : settings.ppdOwner;
}

std::filesystem::path LpadminCommand::ppdPath(const Settings& settings, bool duplex) {
    if (duplex)
        return settings.systemDir / kDuplexPpdName;
    // A name that cannot be a file leaves lpadmin a folder, which it refuses as a PPD.
    return settings.systemDir / Config::ppdFileNameForUser(ppdOwnerOf(settings));
}

std::vector<std::string> LpadminCommand::arguments(const QueueOperation& operation,
                                                   const Settings& settings) {
    std::vector<std::string> arguments = {settings.lpadminPath};
    if (!settings.server.empty())
        arguments.insert(arguments.end(), {"-h", settings.server});
    using Kind = QueueOperation::Kind;
    if (operation.kind == Kind::Remove) {
        arguments.insert(arguments.end(), {"-x", operation.queue});
        return arguments;
    }
    arguments.insert(arguments.end(), {"-p", operation.queue});
    if (operation.kind == Kind::Add)
        arguments.push_back("-E");
    if (operation.kind != Kind::Rename) {
        arguments.insert(arguments.end(), {"-v", std::string(QueueNames::kDeviceUri), "-P",
                                           ppdPath(settings, operation.duplex).string()});
    }
    if (operation.kind != Kind::SwitchPpd)
        arguments.insert(arguments.end(), {"-D", operation.description});
    // "-p" creates a queue that has gone missing in between; it must never come up shared.
    arguments.insert(arguments.end(), {"-o", "printer-is-shared=false"});
    if (!settings.opPolicy.empty())
        arguments.insert(arguments.end(), {"-o", "printer-op-policy=" + settings.opPolicy});
    return arguments;
}

}  // namespace velmora::console
