#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "console/remote/CupsQueueList.h"
#include "console/remote/LpadminCommand.h"
#include "console/remote/QueueOperation.h"
#include "console/remote/TrustedPpdCopy.h"

namespace velmora::console {

// Carries out queue operations: lpadmin directly when this user may administer the scheduler,
// otherwise the privileged helper through pkexec. Either way, a queue that is not ours is
// never touched: each operation is checked against the scheduler's current list first.
class QueueChanger {
  public:
    struct Settings {
        LpadminCommand::Settings lpadmin;
        std::chrono::milliseconds timeout{30000};
        bool viaHelper = false;
        std::string pkexecPath = "/usr/bin/pkexec";
        std::string helperPath;
    };

    // The installed console's: lpadmin directly when this user may administer the scheduler,
    // else the installed helper; the shared folder's generated PPD, the installed duplex PPD
    // (`duplexPpd`) and our scheduler policy either way.
    static Settings installedSettings(std::filesystem::path systemDir,
                                      std::filesystem::path duplexPpd = VELMORA_DUPLEX_PPD_PATH);

    explicit QueueChanger(Settings settings) : settings_(std::move(settings)) {}

    // False with a reason when the operation was refused or its command failed.
    bool apply(const QueueOperation& operation, const std::vector<CupsQueueList::Queue>& queues,
               std::string& error) const;
    // Whether `operation` may act on the scheduler whose queues are `queues`.
    static bool mayApply(const QueueOperation& operation,
                         const std::vector<CupsQueueList::Queue>& queues, std::string& error);
    // For an operation that installs the generated PPD: a checked copy of `user`'s own from
    // `lpadmin`'s shared folder, with `lpadmin` pointed at the copy. Anyone may add files to
    // that folder, so lpadmin never reads it there. True with no copy for other operations;
    // false (and the reason in `error`) when the PPD is not to be trusted.
    static bool takeTrustedPpd(const QueueOperation& operation, uid_t user,
                               LpadminCommand::Settings& lpadmin,
                               std::unique_ptr<TrustedPpdCopy>& copy, std::string& error);
    // Root, or a member of the group that the scheduler lets administer it.
    static bool mayAdministerDirectly(const std::string& adminGroup = "lpadmin");

    const Settings& settings() const { return settings_; }

  private:
    bool runDirectly(const QueueOperation& operation, std::string& error) const;
    bool runThroughHelper(const QueueOperation& operation, std::string& error) const;

    Settings settings_;
};

}  // namespace velmora::console
