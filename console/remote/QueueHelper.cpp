#include "console/remote/QueueHelper.h"

#include "console/remote/CupsQueueList.h"
#include "console/remote/QueueChanger.h"
#include "console/remote/QueueHelperRequest.h"

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
    // Only the requester's own generated PPD comes from the shared folder (lpadmin then reads
    // the helper's copy, which is root's); the duplex one is the installed file.
    direct.lpadmin.ppdOwner.clear();
    std::unique_ptr<TrustedPpdCopy> ppd;
    if (!QueueChanger::takeTrustedPpd(*operation, requester, direct.lpadmin, ppd, error))
        return 2;
    return QueueChanger(direct).apply(*operation, *queues, error) ? 0 : 1;
}

}  // namespace velmora::console
