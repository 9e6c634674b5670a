#include "console/remote/QueueHelper.h"

#include "console/remote/CupsQueueList.h"
#include "console/remote/QueueChanger.h"
#include "console/remote/QueueHelperRequest.h"
#include "console/remote/TrustedPpdCopy.h"

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
    // Only the generated PPD comes from the shared folder; the duplex one is the installed file.
    std::unique_ptr<TrustedPpdCopy> ppd;
    if ((operation->kind == QueueOperation::Kind::Add ||
         operation->kind == QueueOperation::Kind::SwitchPpd) &&
        !operation->duplex) {
        ppd = TrustedPpdCopy::make(settings.systemDir, LpadminCommand::kGeneratedPpdName, requester,
                                   error);
        if (!ppd)
            return 2;
        direct.lpadmin.systemDir = ppd->folder();
    }
    return QueueChanger(direct).apply(*operation, *queues, error) ? 0 : 1;
}

}  // namespace velmora::console
