#include "console/remote/QueueHelper.h"

#include "console/remote/CupsQueueList.h"
#include "console/remote/QueueChanger.h"
#include "console/remote/QueueHelperRequest.h"
#include "console/remote/TrustedPpdCopy.h"
#include "core/config/Config.h"

namespace velmora::console {

int QueueHelper::run(std::span<const std::string> arguments,
                     const LpadminCommand::Settings& settings, uid_t requester,
                     std::string& error) {
    const auto operation = QueueHelperRequest::parse(arguments, error);
    if (!operation)
        return 2;
    const auto queues = CupsQueueList::list(settings.server, error);
    if (!queues)
        return 1;
    QueueChanger::Settings direct;
    direct.lpadmin = settings;
    if (!QueueChanger::mayApply(*operation, *queues, error))
        return 2;
    // From the shared folder, the generated PPD is taken only as the requester's own.
    std::unique_ptr<TrustedPpdCopy> ppd;
    if (operation->kind == QueueOperation::Kind::Add ||
        operation->kind == QueueOperation::Kind::SwitchPpd) {
        const std::string owner = Config::userNameOf(requester);
        const std::string fileName =
            operation->duplex ? LpadminCommand::kDuplexPpdName : Config::ppdFileNameForUser(owner);
        if (fileName.empty()) {
            error = "The requesting user has no name that can name a PPD";
            return 2;
        }
        ppd = TrustedPpdCopy::make(settings.systemDir, fileName, requester, error);
        if (!ppd)
            return 2;
        direct.lpadmin.systemDir = ppd->folder();
        direct.lpadmin.ppdOwner = owner;
    }
    return QueueChanger(direct).apply(*operation, *queues, error) ? 0 : 1;
}

}  // namespace velmora::console
