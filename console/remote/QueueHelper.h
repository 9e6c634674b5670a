#pragma once

#include <sys/types.h>

#include <span>
#include <string>

#include "console/remote/LpadminCommand.h"

namespace velmora::console {

// The privileged queue helper that pkexec starts as root: it accepts only the requests of
// QueueHelperRequest, only for queues that are ours (or not there yet, for an add), and runs
// lpadmin for them with the requester's generated PPD from its own shared folder (or the
// installed duplex PPD) and the scheduler policy of ours.
class QueueHelper {
  public:
    // `arguments` without the program name; `requester` is the user pkexec ran it for. 0 when
    // done; 2 for a refused request (or a PPD not to be trusted); 1 when lpadmin failed. The
    // reason goes to `error`.
    static int run(std::span<const std::string> arguments, const LpadminCommand::Settings& settings,
                   uid_t requester, std::string& error);
};

}  // namespace velmora::console
