#include "console/remote/ProcessRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/UniqueFd.h"

extern char** environ;

namespace velmora::console {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> pointers(const std::vector<std::string>& strings) {
    std::vector<char*> list;
    for (const std::string& text : strings)
        list.push_back(const_cast<char*>(text.c_str()));
    list.push_back(nullptr);
    return list;
}

pid_t spawn(const std::vector<std::string>& arguments, int outputFd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outputFd, 1);
    posix_spawn_file_actions_adddup2(&actions, outputFd, 2);
    std::vector<char*> argv = pointers(arguments);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? pid : -1;
}

// Reads until the pipe closes or the deadline passes; false on the deadline.
bool drain(int fd, Clock::time_point deadline, std::string& output) {
    char buffer[4096];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd waiting{fd, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return ready == 0 ? false : true;
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return true;
        const size_t room =
            ProcessRunner::kMaxOutput - std::min(output.size(), ProcessRunner::kMaxOutput);
        output.append(buffer, std::min(room, static_cast<size_t>(got)));
    }
}

// Waits for `pid` alone until the deadline; false when it is still running then.
bool waitUntil(pid_t pid, Clock::time_point deadline, int& status) {
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR))
            return true;
        if (Clock::now() >= deadline)
            return false;
        ::usleep(10000);
    }
}

}  // namespace

ProcessRunner::Result ProcessRunner::run(const std::vector<std::string>& arguments,
                                         std::chrono::milliseconds timeout) {
    Result result;
    int fds[2];
    if (arguments.empty() || ::pipe2(fds, O_CLOEXEC) != 0)
        return result;
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);
    const pid_t pid = spawn(arguments, writeEnd.get());
    writeEnd.reset();
    if (pid < 0)
        return result;
    result.started = true;
    const auto deadline = Clock::now() + timeout;
    const bool closed = drain(readEnd.get(), deadline, result.output);
    int status = 0;
    if (!closed || !waitUntil(pid, deadline, status)) {
        result.timedOut = true;
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return result;
    }
    if (WIFEXITED(status))
        result.exitStatus = WEXITSTATUS(status);
    return result;
}

}  // namespace velmora::console
