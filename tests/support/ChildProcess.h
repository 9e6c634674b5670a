#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ScratchDirectory.h"

extern char** environ;

namespace velmora::test {

// Runs a program with an argument vector (never a shell), its output captured in files.
class ChildProcess {
  public:
    struct Result {
        bool started = false;
        bool timedOut = false;
        int exitStatus = -1;  // -1 when it did not exit normally
        std::string standardOutput;
        std::string standardError;
    };

    // The process's environment plus `extra` (which replaces variables of the same name).
    static std::vector<std::string> environmentWith(
        const std::map<std::string, std::string>& extra) {
        std::vector<std::string> entries;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            std::string text(*entry);
            const std::string name = text.substr(0, text.find('='));
            if (extra.count(name) == 0)
                entries.push_back(std::move(text));
        }
        for (const auto& [name, value] : extra)
            entries.push_back(name + "=" + value);
        return entries;
    }

    static Result run(std::vector<std::string> arguments, const std::filesystem::path& outputDir,
                      const std::map<std::string, std::string>& extraEnvironment = {},
                      int timeoutSeconds = 120) {
        Result result;
        std::vector<std::string> environment = environmentWith(extraEnvironment);
        const std::filesystem::path out = outputDir / "child.stdout";
        const std::filesystem::path err = outputDir / "child.stderr";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        std::vector<char*> argv = pointers(arguments);
        std::vector<char*> envp = pointers(environment);
        pid_t pid = 0;
        const int spawned =
            posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0)
            return result;
        result.started = true;
        int status = 0;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                result.timedOut = true;
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (WIFEXITED(status))
            result.exitStatus = WEXITSTATUS(status);
        result.standardOutput = ScratchDirectory::readFile(out);
        result.standardError = ScratchDirectory::readFile(err);
        return result;
    }

    // Asks a helper process to end (SIGTERM) and reaps it; one that is still there after `grace`
    // is killed, so a helper that hangs on its way out costs a suite seconds, not its whole
    // time limit. False, with a line on stderr, when it had to be killed.
    static bool terminate(pid_t pid, const char* what,
                          std::chrono::milliseconds grace = std::chrono::seconds(10)) {
        if (pid <= 0)
            return true;
        ::kill(pid, SIGTERM);
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + grace;
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                std::fprintf(stderr, "%s (pid %d) ignored SIGTERM and was killed\n", what,
                             static_cast<int>(pid));
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    // argv/envp form; the strings must outlive the returned pointers.
    static std::vector<char*> pointers(std::vector<std::string>& strings) {
        std::vector<char*> list;
        for (std::string& text : strings)
            list.push_back(text.data());
        list.push_back(nullptr);
        return list;
    }
};

}  // namespace velmora::test
