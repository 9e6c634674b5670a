#include "console/remote/QueueChanger.h"

#include <grp.h>
#include <unistd.h>

#include "console/remote/PrivilegedTask.h"
#include "console/remote/ProcessRunner.h"
#include "console/remote/QueueHelperRequest.h"
#include "console/remote/QueueNames.h"
#include "core/config/Config.h"

namespace velmora::console {

namespace {

std::string lastLine(const std::string& output) {
    std::string text = output;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    const size_t start = text.find_last_of('\n');
    return start == std::string::npos ? text : text.substr(start + 1);
}

}  // namespace

QueueChanger::Settings QueueChanger::installedSettings(std::filesystem::path systemDir,
                                                       std::filesystem::path duplexPpd) {
    Settings settings;
    settings.lpadmin.systemDir = std::move(systemDir);
    settings.lpadmin.duplexPpd = std::move(duplexPpd);
    settings.lpadmin.opPolicy = VELMORA_QUEUE_POLICY;
    settings.viaHelper = !mayAdministerDirectly();
    settings.helperPath = VELMORA_QUEUE_HELPER_PATH;
    return settings;
}

bool QueueChanger::mayApply(const QueueOperation& operation,
                            const std::vector<CupsQueueList::Queue>& queues, std::string& error) {
    if (!QueueNames::hasOurForm(operation.queue)) {
        error =
            "Not a queue name of ours: " + QueueNames::withoutControlCharacters(operation.queue);
        return false;
    }
    const CupsQueueList::Queue* existing = CupsQueueList::find(queues, operation.queue);
    if (existing != nullptr && !QueueNames::isOurs(existing->name, existing->deviceUri)) {
        error = "Queue " + existing->name + " prints to " + existing->deviceUri + "; left alone";
        return false;
    }
    if (existing == nullptr && operation.kind != QueueOperation::Kind::Add) {
        error = "No queue " + operation.queue;
        return false;
    }
    return true;
}

bool QueueChanger::apply(const QueueOperation& operation,
                         const std::vector<CupsQueueList::Queue>& queues,
                         std::string& error) const {
    if (!mayApply(operation, queues, error))
        return false;
    return settings_.viaHelper ? runThroughHelper(operation, error) : runDirectly(operation, error);
}

bool QueueChanger::takeTrustedPpd(const QueueOperation& operation, uid_t user,
                                  LpadminCommand::Settings& lpadmin,
                                  std::unique_ptr<TrustedPpdCopy>& copy, std::string& error) {
    using Kind = QueueOperation::Kind;
    if ((operation.kind != Kind::Add && operation.kind != Kind::SwitchPpd) || operation.duplex)
        return true;
    const std::string owner =
        lpadmin.ppdOwner.empty() ? Config::userNameOf(user) : lpadmin.ppdOwner;
    const std::string fileName = Config::ppdFileNameForUser(owner);
    if (fileName.empty()) {
        error = "The user has no name that can name a PPD";
        return false;
    }
    copy = TrustedPpdCopy::make(lpadmin.systemDir, fileName, user, error);
    if (!copy)
        return false;
    lpadmin.systemDir = copy->folder();
    lpadmin.ppdOwner = owner;
    return true;
}

bool QueueChanger::runDirectly(const QueueOperation& operation, std::string& error) const {
    LpadminCommand::Settings lpadmin = settings_.lpadmin;
    std::unique_ptr<TrustedPpdCopy> ppd;
    if (!takeTrustedPpd(operation, ::getuid(), lpadmin, ppd, error))
        return false;
    const auto result =
        ProcessRunner::run(LpadminCommand::arguments(operation, lpadmin), settings_.timeout);
    if (result.succeeded())
        return true;
    if (!result.started)
        error = "Cannot start " + settings_.lpadmin.lpadminPath;
    else if (result.timedOut)
        error = "lpadmin did not finish in time";
    else
        error = "lpadmin failed: " + lastLine(result.output);
    return false;
}

bool QueueChanger::runThroughHelper(const QueueOperation& operation, std::string& error) const {
    const auto task = PrivilegedTask::launchedPrivilegedTask(
        settings_.helperPath, QueueHelperRequest::arguments(operation), "/", settings_.pkexecPath);
    const int status = task->authorizationStatus();
    if (status == PrivilegedTask::kSuccess)
        return true;
    if (status == PrivilegedTask::kCancelled)
        error = "User cancelled";
    else if (status == PrivilegedTask::kNotAvailable)
        error = "Administrator rights are not available";
    else
        error = "The queue helper failed with status " + std::to_string(status);
    return false;
}

bool QueueChanger::mayAdministerDirectly(const std::string& adminGroup) {
    if (::geteuid() == 0)
        return true;
    const group* admins = ::getgrnam(adminGroup.c_str());
    if (admins == nullptr)
        return false;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    const int got = ::getgroups(count, groups.data());
    for (int index = 0; index < got; ++index) {
        if (groups[static_cast<size_t>(index)] == admins->gr_gid)
            return true;
    }
    return ::getegid() == admins->gr_gid;
}

}  // namespace velmora::console
