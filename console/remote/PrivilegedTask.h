#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velmora {
class RunLoop;
}

namespace velmora::console {

// Runs one program with administrator rights through pkexec, which asks the user to
// authenticate (polkit). The caller sets the program, its arguments and working directory,
// launches it and learns of its end through the termination handler (called once, on the run
// loop when one is given) or by waiting.
//
// pkexec asks for the password in the child, so launch() knows only whether the child started;
// authorizationStatus() tells, after the end, whether the user cancelled (-60006) or no
// authorization could be had (-70001).
class PrivilegedTask {
  public:
    static constexpr int kSuccess = 0;
    static constexpr int kCancelled = -60006;
    static constexpr int kNotAvailable = -70001;

    using TerminationHandler = std::function<void(PrivilegedTask&)>;

    PrivilegedTask();
    explicit PrivilegedTask(std::string launchPath);
    PrivilegedTask(std::string launchPath, std::vector<std::string> arguments);
    PrivilegedTask(std::string launchPath, std::vector<std::string> arguments,
                   std::filesystem::path currentDirectory);
    // A task still running is waited for: its child is never left unreaped.
    ~PrivilegedTask();
    PrivilegedTask(const PrivilegedTask&) = delete;
    PrivilegedTask& operator=(const PrivilegedTask&) = delete;

    // Launched and, only when the launch succeeded, waited for until it ended.
    static std::unique_ptr<PrivilegedTask> launchedPrivilegedTask(
        std::string launchPath, std::vector<std::string> arguments = {},
        std::filesystem::path currentDirectory = std::filesystem::current_path(),
        std::string pkexecPath = kDefaultPkexecPath);

    // 0 when the program was started; kNotAvailable when pkexec is missing or cannot start.
    int launch();
    // The process cannot be stopped through the task.
    void terminate() {}
    // Blocks until the process has ended (at once when it never started); runs the end actions
    // if the timer has not yet.
    void waitUntilExit();
    // The timer's check: when the process has ended, the end actions run, once.
    void checkTaskStatus();
    std::string description() const;

    const std::string& launchPath() const { return launchPath_; }
    void setLaunchPath(std::string path) { launchPath_ = std::move(path); }
    const std::vector<std::string>& arguments() const { return arguments_; }
    void setArguments(std::vector<std::string> arguments) { arguments_ = std::move(arguments); }
    const std::filesystem::path& currentDirectoryPath() const { return currentDirectory_; }
    void setCurrentDirectoryPath(std::filesystem::path path) {
        currentDirectory_ = std::move(path);
    }
    void setTerminationHandler(TerminationHandler handler);
    // The run loop on which the timer checks for the end; none: only waitUntilExit() sees it.
    void setRunLoop(RunLoop* loop) { runLoop_ = loop; }
    void setPkexecPath(std::string path) { pkexecPath_ = std::move(path); }

    bool isRunning() const;
    pid_t processIdentifier() const;
    // The raw wait status of the ended process (as waitpid gives it).
    int terminationStatus() const;
    // After the end: kSuccess, kCancelled, kNotAvailable, or the program's own non-zero exit.
    int authorizationStatus() const;
    // Reading end of the program's standard output; -1 before a launch.
    int outputFileDescriptor() const;

    // pkexec's exit 126 means the user dismissed the dialog, 127 that no authorization could
    // be obtained.
    static int statusFromPkexecExit(int exitStatus);

    static constexpr const char* kDefaultPkexecPath = "/usr/bin/pkexec";
    static constexpr double kCheckInterval = 0.05;

  private:
    struct State;
    void scheduleCheck();
    static void check(const std::shared_ptr<State>& state);
    static void runEndActions(const std::shared_ptr<State>& state);

    std::string launchPath_;
    std::vector<std::string> arguments_;
    std::filesystem::path currentDirectory_;
    std::string pkexecPath_ = kDefaultPkexecPath;
    RunLoop* runLoop_ = nullptr;
    std::shared_ptr<State> state_;
};

}  // namespace velmora::console
