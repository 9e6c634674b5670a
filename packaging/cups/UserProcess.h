#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velmora::backend {

// Work done in a child process that runs as the job's user: its supplementary groups, group
// and user are set (in that order) before anything else, and the child ends if any of them
// fails. The backend itself stays root only to make the spool folder.
class UserProcess {
  public:
    struct Account {
        std::string name;
        uid_t uid = 0;
        gid_t gid = 0;
        std::string home;
    };

    static std::optional<Account> lookup(const std::string& userName);

    // Starts `body` (its result is the child's exit status) with `inputFd` as standard input
    // (-1: /dev/null) and standard output and error on /dev/null. -1 when it cannot start.
    static pid_t start(const Account& account, int inputFd, const std::function<int()>& body);
    // A clean environment of the account's own, plus the proxy settings the scheduler was
    // given (`SetEnv` in cups-files.conf): the sender reaches the service through them.
    static std::vector<std::string> environmentFor(const Account& account,
                                                   const char* const* inherited);
    // Starts a program with environmentFor(account, the backend's environment).
    static pid_t startProgram(const Account& account, int inputFd,
                              const std::vector<std::string>& arguments);
    // Waits for that child alone; its exit status, or -1 when it did not exit normally. A
    // signal that interrupts the wait is passed on by the caller's handler, and waiting goes on.
    static int wait(pid_t pid);

    // The child's exit status when it could not become the user.
    static constexpr int kCannotDropPrivileges = 125;
};

}  // namespace velmora::backend
