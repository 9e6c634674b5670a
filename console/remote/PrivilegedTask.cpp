#include "console/remote/PrivilegedTask.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "platform/RunLoop.h"
#include "platform/UniqueFd.h"

extern char** environ;

namespace velmora::console {

struct PrivilegedTask::State {
    mutable std::mutex mutex;
    PrivilegedTask* task = nullptr;
    TerminationHandler handler;
    bool launched = false;
    bool running = false;
    bool endActionsDone = false;
    pid_t pid = -1;
    int waitStatus = 0;
    UniqueFd output;

    // Reaps our own child only, without blocking; true when it has ended. Holds the lock.
    bool reapIfEnded() {
        if (!running)
            return true;
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            waitStatus = status;
            running = false;
        } else if (done < 0 && errno == ECHILD) {
            running = false;
        }
        return !running;
    }
};

PrivilegedTask::PrivilegedTask() : PrivilegedTask(std::string()) {}

PrivilegedTask::PrivilegedTask(std::string launchPath)
    : PrivilegedTask(std::move(launchPath), {}) {}

PrivilegedTask::PrivilegedTask(std::string launchPath, std::vector<std::string> arguments)
    : PrivilegedTask(std::move(launchPath), std::move(arguments), std::filesystem::current_path()) {
}

PrivilegedTask::PrivilegedTask(std::string launchPath, std::vector<std::string> arguments,
                               std::filesystem::path currentDirectory)
    : launchPath_(std::move(launchPath)),
      arguments_(std::move(arguments)),
      currentDirectory_(std::move(currentDirectory)),
      state_(std::make_shared<State>()) {
    state_->task = this;
}

PrivilegedTask::~PrivilegedTask() {
    if (isRunning())
        waitUntilExit();
    std::lock_guard lock(state_->mutex);
    state_->task = nullptr;
}

std::unique_ptr<PrivilegedTask> PrivilegedTask::launchedPrivilegedTask(
    std::string launchPath, std::vector<std::string> arguments,
    std::filesystem::path currentDirectory, std::string pkexecPath) {
    auto task = std::make_unique<PrivilegedTask>(std::move(launchPath), std::move(arguments),
                                                 std::move(currentDirectory));
    task->setPkexecPath(std::move(pkexecPath));
    if (task->launch() == kSuccess)
        task->waitUntilExit();
    return task;
}

int PrivilegedTask::launch() {
    std::lock_guard lock(state_->mutex);
    if (state_->launched || launchPath_.empty() || ::access(pkexecPath_.c_str(), X_OK) != 0)
        return kNotAvailable;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return kNotAvailable;
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);
    std::vector<std::string> command = {pkexecPath_, launchPath_};
    command.insert(command.end(), arguments_.begin(), arguments_.end());
    std::vector<char*> argv;
    for (std::string& argument : command)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), 1);
    posix_spawn_file_actions_addchdir_np(&actions, currentDirectory_.c_str());
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0)
        return kNotAvailable;
    state_->launched = true;
    state_->running = true;
    state_->pid = pid;
    state_->output = std::move(readEnd);
    scheduleCheck();
    return kSuccess;
}

void PrivilegedTask::scheduleCheck() {
    if (runLoop_ == nullptr)
        return;
    std::weak_ptr<State> weak = state_;
    RunLoop* loop = runLoop_;
    runLoop_->postAfter(kCheckInterval, [weak, loop] {
        const std::shared_ptr<State> state = weak.lock();
        if (state == nullptr)
            return;
        check(state);
        std::lock_guard lock(state->mutex);
        if (state->running && state->task != nullptr)
            state->task->scheduleCheck();
    });
}

void PrivilegedTask::checkTaskStatus() {
    check(state_);
}

void PrivilegedTask::check(const std::shared_ptr<State>& state) {
    {
        std::lock_guard lock(state->mutex);
        if (!state->launched || !state->reapIfEnded())
            return;
    }
    runEndActions(state);
}

void PrivilegedTask::runEndActions(const std::shared_ptr<State>& state) {
    TerminationHandler handler;
    PrivilegedTask* task = nullptr;
    {
        std::lock_guard lock(state->mutex);
        if (state->endActionsDone || state->task == nullptr)
            return;
        state->endActionsDone = true;
        handler = state->handler;
        task = state->task;
    }
    if (handler)
        handler(*task);
}

void PrivilegedTask::waitUntilExit() {
    pid_t pid = -1;
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->launched)
            return;
        pid = state_->pid;
    }
    // Wait without reaping, so that the timer's check and this wait never race for the status.
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 &&
           errno == EINTR) {
    }
    {
        std::lock_guard lock(state_->mutex);
        state_->reapIfEnded();
    }
    runEndActions(state_);
}

void PrivilegedTask::setTerminationHandler(TerminationHandler handler) {
    std::lock_guard lock(state_->mutex);
    state_->handler = std::move(handler);
}

bool PrivilegedTask::isRunning() const {
    std::lock_guard lock(state_->mutex);
    return state_->running;
}

pid_t PrivilegedTask::processIdentifier() const {
    std::lock_guard lock(state_->mutex);
    return state_->pid;
}

int PrivilegedTask::terminationStatus() const {
    std::lock_guard lock(state_->mutex);
    return state_->waitStatus;
}

int PrivilegedTask::authorizationStatus() const {
    std::lock_guard lock(state_->mutex);
    if (!state_->launched || state_->running)
        return kNotAvailable;
    if (!WIFEXITED(state_->waitStatus))
        return kNotAvailable;
    return statusFromPkexecExit(WEXITSTATUS(state_->waitStatus));
}

int PrivilegedTask::outputFileDescriptor() const {
    std::lock_guard lock(state_->mutex);
    return state_->output.get();
}

int PrivilegedTask::statusFromPkexecExit(int exitStatus) {
    if (exitStatus == 126)
        return kCancelled;
    if (exitStatus == 127)
        return kNotAvailable;
    return exitStatus;
}

std::string PrivilegedTask::description() const {
    std::string text = "PrivilegedTask " + launchPath_;
    for (const std::string& argument : arguments_)
        text += " '" + argument + "'";
    return text + " (CWD:" + currentDirectory_.string() + ")";
}

}  // namespace velmora::console
