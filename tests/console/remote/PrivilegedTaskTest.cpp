#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <numeric>
#include <set>
#include <thread>

#include "console/remote/CommandQueue.h"
#include "console/remote/PrivilegedTask.h"
#include "console/remote/ProcessRunner.h"
#include "platform/PlainRunLoop.h"
#include "platform/UniqueFd.h"

extern char** environ;

namespace velmora::console {
namespace {

// Stands in for pkexec where no polkit agent can answer: "env PROGRAM ARGS" runs the program
// the same way, so the task's launching, waiting and end actions run on real processes.
constexpr const char* kElevator = "/usr/bin/env";
constexpr const char* kPython = "/usr/bin/python3";

// A child of the test's own that the runners must never wait for.
pid_t spawnUnrelatedChild() {
    std::vector<std::string> arguments = {kPython, "-c", "import time; time.sleep(0.5)"};
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
    return pid;
}

// Reaps the child here; false when someone else already did.
bool stillOursToReap(pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid;
}

TEST(PrivilegedTaskTest, AMissingElevatorIsNotAvailableAndNothingIsWaitedFor) {
    const pid_t unrelated = spawnUnrelatedChild();
    std::atomic<int> ended = 0;
    PrivilegedTask task("/usr/bin/true");
    task.setPkexecPath("/nonexistent/pkexec");
    task.setTerminationHandler([&](PrivilegedTask&) { ++ended; });
    EXPECT_EQ(task.launch(), PrivilegedTask::kNotAvailable);
    task.waitUntilExit();
    task.checkTaskStatus();
    EXPECT_FALSE(task.isRunning());
    EXPECT_EQ(ended, 0);
    EXPECT_TRUE(stillOursToReap(unrelated));

    const auto launched =
        PrivilegedTask::launchedPrivilegedTask("/usr/bin/true", {}, "/", "/nonexistent/pkexec");
    EXPECT_FALSE(launched->isRunning());
    EXPECT_EQ(launched->authorizationStatus(), PrivilegedTask::kNotAvailable);
}

TEST(PrivilegedTaskTest, TheEndIsSeenOnceWhetherTheTimerOrTheWaitSeesItFirst) {
    const pid_t unrelated = spawnUnrelatedChild();
    PlainRunLoop loop;
    std::atomic<int> ended = 0;
    PrivilegedTask task(kPython, {"-c", "import sys, time; time.sleep(0.2); sys.exit(3)"});
    task.setPkexecPath(kElevator);
    task.setRunLoop(&loop);
    task.setTerminationHandler([&](PrivilegedTask& done) {
        ++ended;
        EXPECT_FALSE(done.isRunning());
        loop.post([&] { loop.stop(); });
    });
    ASSERT_EQ(task.launch(), PrivilegedTask::kSuccess);
    EXPECT_TRUE(task.isRunning());
    std::thread waiter([&] { task.waitUntilExit(); });
    loop.run();
    waiter.join();
    task.checkTaskStatus();
    EXPECT_EQ(ended, 1);
    EXPECT_TRUE(WIFEXITED(task.terminationStatus()));
    EXPECT_EQ(WEXITSTATUS(task.terminationStatus()), 3);
    EXPECT_EQ(task.authorizationStatus(), 3);
    EXPECT_TRUE(stillOursToReap(unrelated));
}

TEST(PrivilegedTaskTest, PkexecExitCodesBecomeTheAuthorizationCodes) {
    struct Case {
        int exit;
        int status;
    };
    for (const Case& c : {Case{0, PrivilegedTask::kSuccess}, Case{126, PrivilegedTask::kCancelled},
                          Case{127, PrivilegedTask::kNotAvailable}, Case{4, 4}}) {
        const auto task = PrivilegedTask::launchedPrivilegedTask(
            kPython, {"-c", "import sys; sys.exit(" + std::to_string(c.exit) + ")"}, "/",
            kElevator);
        EXPECT_FALSE(task->isRunning());
        EXPECT_EQ(task->authorizationStatus(), c.status) << c.exit;
    }
}

TEST(PrivilegedTaskTest, RunsInItsWorkingDirectoryAndHandsOverItsOutput) {
    PrivilegedTask task("/usr/bin/pwd", {}, "/usr/share");
    task.setPkexecPath(kElevator);
    ASSERT_EQ(task.launch(), PrivilegedTask::kSuccess);
    task.waitUntilExit();
    char buffer[64] = {};
    const ssize_t got = ::read(task.outputFileDescriptor(), buffer, sizeof buffer - 1);
    EXPECT_EQ(std::string(buffer, got > 0 ? static_cast<size_t>(got) : 0), "/usr/share\n");
    EXPECT_EQ(task.description(), "PrivilegedTask /usr/bin/pwd (CWD:/usr/share)");
}

TEST(ProcessRunnerTest, AProgramThatNeverEndsIsKilledAndItsEndlessOutputBounded) {
    const pid_t unrelated = spawnUnrelatedChild();
    const auto result = ProcessRunner::run({"/usr/bin/yes"}, std::chrono::milliseconds(300));
    EXPECT_TRUE(result.started);
    EXPECT_TRUE(result.timedOut);
    EXPECT_FALSE(result.succeeded());
    EXPECT_EQ(result.output.size(), ProcessRunner::kMaxOutput);
    EXPECT_TRUE(stillOursToReap(unrelated));

    const auto silent = ProcessRunner::run({kPython, "-c", "import time; time.sleep(30)"},
                                           std::chrono::milliseconds(300));
    EXPECT_TRUE(silent.timedOut);
}

TEST(ProcessRunnerTest, ArgumentsReachTheProgramUntouchedByAnyShell) {
    const std::string hostile = "$(touch x); `id` \"q\" 'q'\n*";
    const auto result =
        ProcessRunner::run({kPython, "-c", "import sys; print(repr(sys.argv[1:]))", hostile, ""},
                           std::chrono::seconds(30));
    EXPECT_TRUE(result.succeeded());
    EXPECT_EQ(result.output, "['$(touch x); `id` \"q\" \\'q\\'\\n*', '']\n");
    EXPECT_FALSE(ProcessRunner::run({"/nonexistent/program"}, std::chrono::seconds(5)).started);
}

TEST(CommandQueueTest, RunsWorkInOrderOnOneThreadThatIsNotTheCallers) {
    std::vector<int> order;
    std::set<std::thread::id> threads;
    {
        CommandQueue queue;
        for (int i = 0; i < 50; ++i) {
            queue.post([&, i] {
                order.push_back(i);
                threads.insert(std::this_thread::get_id());
            });
        }
        queue.waitUntilIdle();
        EXPECT_EQ(order.size(), 50u);
        queue.post([&] { order.push_back(50); });
    }  // what is still queued runs before the queue goes
    std::vector<int> expected(51);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(order, expected);
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
}

}  // namespace
}  // namespace velmora::console
