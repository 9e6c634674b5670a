#include "packaging/cups/UserProcess.h"

#include <algorithm>
#include <iterator>
#include <string_view>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace velmora::backend {

namespace {

bool becomeUser(const UserProcess::Account& account) {
    if (::geteuid() != 0)
        return ::geteuid() == account.uid;
    return ::initgroups(account.name.c_str(), account.gid) == 0 && ::setgid(account.gid) == 0 &&
           ::setuid(account.uid) == 0 && ::getuid() == account.uid && ::geteuid() == account.uid &&
           (account.uid == 0 || ::setuid(0) != 0);
}

void redirect(int inputFd) {
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(inputFd >= 0 ? inputFd : null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    // The scheduler hands the backend more than the standard three: the job's back channel and
    // side channel to its filters (3 and 4), and the job's file. The user's programs get none.
    ::close_range(3, ~0U, 0);
}

}  // namespace

std::optional<UserProcess::Account> UserProcess::lookup(const std::string& userName) {
    if (userName.empty())
        return std::nullopt;
    const passwd* entry = ::getpwnam(userName.c_str());
    if (entry == nullptr)
        return std::nullopt;
    return Account{entry->pw_name, entry->pw_uid, entry->pw_gid,
                   entry->pw_dir != nullptr ? entry->pw_dir : "/"};
}

pid_t UserProcess::start(const Account& account, int inputFd, const std::function<int()>& body) {
    // The backend's own SIGTERM handler passes the signal on; in the child it must end the
    // child instead, so it is put back before the signal can be taken.
    sigset_t terminate;
    sigset_t previous;
    sigemptyset(&terminate);
    sigaddset(&terminate, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &terminate, &previous);
    const pid_t pid = ::fork();
    if (pid != 0) {
        ::sigprocmask(SIG_SETMASK, &previous, nullptr);
        return pid;
    }
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGPIPE, SIG_DFL);
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
    redirect(inputFd);
    if (!becomeUser(account) || ::chdir("/") != 0)
        ::_exit(kCannotDropPrivileges);
    ::_exit(body());
}

std::vector<std::string> UserProcess::environmentFor(const Account& account,
                                                     const char* const* inherited) {
    static constexpr std::string_view kProxyNames[] = {"https_proxy", "HTTPS_PROXY", "http_proxy",
                                                       "all_proxy",   "ALL_PROXY",   "no_proxy",
                                                       "NO_PROXY"};
    std::vector<std::string> environment = {"PATH=/usr/bin:/bin", "HOME=" + account.home,
                                            "USER=" + account.name, "LOGNAME=" + account.name,
                                            "LANG=C.UTF-8"};
    for (const char* const* entry = inherited; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const size_t equals = text.find('=');
        if (equals == std::string_view::npos)
            continue;
        const std::string_view name = text.substr(0, equals);
        if (std::find(std::begin(kProxyNames), std::end(kProxyNames), name) !=
            std::end(kProxyNames))
            environment.emplace_back(text);
    }
    return environment;
}

pid_t UserProcess::startProgram(const Account& account, int inputFd,
                                const std::vector<std::string>& arguments) {
    // Built before the fork: the child only calls what is safe there.
    const std::vector<std::string> environment = environmentFor(account, environ);
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& entry : environment)
        envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
    return start(account, inputFd, [&] {
        ::execve(argv[0], argv.data(), envp.data());
        return 127;
    });
}

int UserProcess::wait(pid_t pid) {
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, 0);
        if (done == pid)
            break;
        if (done < 0 && errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace velmora::backend
