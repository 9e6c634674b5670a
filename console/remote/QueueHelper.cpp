#include "console/remote/QueueHelper.h"

#include "console/remote/CupsQueueList.h"
#include "console/remote/QueueChanger.h"
#include "console/remote/QueueHelperRequest.h"

namespace velmora::console {

int QueueHelper::run(std::span<const std::string> arguments,
                     const LpadminCommand::Settings& settings, std::string& error) {
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
    return QueueChanger(direct).apply(*operation, *queues, error) ? 0 : 1;
}

}  // namespace velmora::console
