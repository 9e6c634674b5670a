#include "sender/SenderProgram.h"

#include <exception>

#include "core/Deployment.h"
#include "core/net/InetProvider.h"
#include "platform/Logger.h"
#include "sender/OptionsList.h"
#include "sender/Sender.h"

namespace velmora {

int SenderProgram::run(std::span<const std::string> arguments,
                       const std::filesystem::path& systemDir) {
    const Logger logger(std::string(deployment::kLogSubsystem), "sender");
    try {
        logger.notice("User Agent: {}", InetProvider::userAgent());
        Sender sender(OptionsList::fromArguments(arguments), systemDir);
        sender.run();
    } catch (const std::exception& exception) {
        logger.error("Sender stopped: {}", exception.what());
    }
    return 0;
}

}  // namespace velmora
