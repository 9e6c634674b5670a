#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace velmora::test {

// A long-running program started with an argument vector, its output in a log file, that the
// test signals and waits for. Killed at the end if the test left it running.
class BackgroundProcess {
  public:
    BackgroundProcess(std::vector<std::string> arguments,
                      const std::map<std::string, std::string>& extraEnvironment,
                      const std::filesystem::path& logFile)
        : log_(logFile) {
        std::vector<std::string> environment = ChildProcess::environmentWith(extraEnvironment);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::vector<char*> argv = ChildProcess::pointers(arguments);
        std::vector<char*> envp = ChildProcess::pointers(environment);
        const int spawned =
            posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            pid_ = -1;
            throw std::runtime_error("cannot start " + arguments.front());
        }
    }
    ~BackgroundProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
    }
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    // Whether the process is still running; reaps it when it has ended.
    bool running() {
        if (pid_ <= 0)
            return false;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) != pid_)
            return true;
        pid_ = -1;
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return false;
    }

    // Sends `signal` and waits at most `seconds` for the process to end: its exit status (128 +
    // the signal's number when a signal ended it), or nothing when it is still running.
    std::optional<int> stop(int signal, double seconds) {
        if (pid_ > 0)
            ::kill(pid_, signal);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (running()) {
            if (std::chrono::steady_clock::now() > deadline)
                return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return exitStatus_;
    }

    std::string output() const { return ScratchDirectory::readFile(log_); }

  private:
    std::filesystem::path log_;
    pid_t pid_ = -1;
    std::optional<int> exitStatus_;
};

}  // namespace velmora::test
