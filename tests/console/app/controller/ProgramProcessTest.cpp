#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "console/service/ConsoleConfig.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/RefServiceProcess.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora::console {
namespace {

namespace fs = std::filesystem;
using velmora::test::ChildProcess;
using velmora::test::RefServiceProcess;
using velmora::test::ScratchDirectory;
using namespace std::chrono_literals;

constexpr const char* kSeed = R"({"accounts": [{"login": "carol", "token": "tok-carol"}]})";

// velmora-testable running in the background, its standard error in a file.
class RunningConsole {
  public:
    RunningConsole(std::vector<std::string> arguments, const fs::path& errorFile)
        : errorFile_(errorFile) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<char*> argv = ChildProcess::pointers(arguments);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~RunningConsole() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    RunningConsole(const RunningConsole&) = delete;
    RunningConsole& operator=(const RunningConsole&) = delete;

    std::string log() const { return ScratchDirectory::readFile(errorFile_); }
    bool waitForLine(const std::string& text, std::chrono::seconds timeout = 20s) const {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (log().find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(50ms);
        }
        return true;
    }
    // The exit status after `signal`, or -1 when it did not end by itself in time.
    int stop(int signal) {
        ::kill(pid_, signal);
        const auto end = std::chrono::steady_clock::now() + 20s;
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > end)
                return -1;
            std::this_thread::sleep_for(20ms);
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    fs::path errorFile_;
    pid_t pid_ = -1;
};

class ProgramProcessTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        scratch_ = std::make_unique<ScratchDirectory>("velmora-program");
        ScratchDirectory::writeFile(*scratch_ / "seed.json", kSeed);
        service_ = std::make_unique<RefServiceProcess>(
            *scratch_ / "seed.json", std::vector<std::string>{}, *scratch_ / "service.log");
    }
    static void TearDownTestSuite() {
        service_.reset();
        scratch_.reset();
    }

    void SetUp() override {
        service_->post("/_ref/reset", "");
        ::chmod(system_.path().c_str(), 0755);
        ::chmod(runtime_.path().c_str(), 0700);
        ConsoleConfig config(system_.path());
        config.setService(service_->serviceUrl());
        config.setToken("tok-carol");
        std::string error;
        ASSERT_TRUE(config.saveSetup(error)) << error;
    }

    std::vector<std::string> arguments(const std::string& mode = "--headless") const {
        std::vector<std::string> list = {VELMORA_TESTABLE_PATH,
                                         "--system-dir",
                                         system_.path().string(),
                                         "--direct-port",
                                         "0",
                                         "--runtime-dir",
                                         runtime_.path().string()};
        if (!mode.empty())
            list.insert(list.begin() + 1, mode);
        return list;
    }
    static size_t logoffs() {
        size_t count = 0;
        for (const auto& entry : service_->requests("soap"))
            count += entry.get<std::string>("operation", "") == "Logoff";
        return count;
    }

    static inline std::unique_ptr<ScratchDirectory> scratch_;
    static inline std::unique_ptr<RefServiceProcess> service_;
    ScratchDirectory system_{"velmora-program-system"};
    ScratchDirectory runtime_{"velmora-program-runtime"};
};

TEST_F(ProgramProcessTest, TerminationSignalsQuitCleanlyWithOneLogoff) {
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        service_->post("/_ref/reset", "");
        RunningConsole console(arguments(), runtime_ / "console.log");
        ASSERT_TRUE(console.waitForLine("Signed in as")) << console.log();
        EXPECT_EQ(console.stop(signal), 0) << console.log();
        EXPECT_NE(console.log().find("Quit on signal " + std::to_string(signal)),
                  std::string::npos);
        EXPECT_EQ(logoffs(), 1u);
    }
}

// The sign-off at quit is a courtesy whose answer nobody reads: a service that stalls it must
// not keep the console from ending when the system stops it.
TEST_F(ProgramProcessTest, AServiceThatStallsTheQuitLogoffDoesNotHoldTheConsole) {
    service_->post("/_ref/reset", "");
    RunningConsole console(arguments(), runtime_ / "console.log");
    ASSERT_TRUE(console.waitForLine("Signed in as")) << console.log();
    service_->addFault(R"({"match": {"operation": "Logoff"}, "delay": 120})");
    EXPECT_EQ(console.stop(SIGTERM), 0) << console.log();
    EXPECT_NE(console.log().find("Sync request: Logoff"), std::string::npos) << console.log();
}

TEST_F(ProgramProcessTest, ASecondStartAsksTheFirstToShowItselfAndEnds) {
    RunningConsole first(arguments(), runtime_ / "first.log");
    ASSERT_TRUE(first.waitForLine("Initialize")) << first.log();
    const auto second = ChildProcess::run(arguments(), runtime_.path(), {}, 30);
    EXPECT_EQ(second.exitStatus, 0) << second.standardError;
    EXPECT_EQ(second.standardError.find("Initialize"), std::string::npos);
    EXPECT_TRUE(first.waitForLine("Another start of the console")) << first.log();
    EXPECT_EQ(first.stop(SIGTERM), 0);
}

// A console that was killed leaves its socket behind; the next start must not take it for a
// running console.
TEST_F(ProgramProcessTest, ASocketLeftByADeadConsoleIsReplaced) {
    const fs::path socketPath = runtime_ / ("velmora-" + std::to_string(::getuid()) + ".socket");
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    RunningConsole console(arguments(), runtime_ / "console.log");
    ASSERT_TRUE(console.waitForLine("Initialize")) << console.log();
    EXPECT_EQ(console.stop(SIGTERM), 0);
}

TEST_F(ProgramProcessTest, WithoutADisplayTheWindowedStartSaysSo) {
    const auto windowed =
        ChildProcess::run(arguments(""), runtime_.path(),
                          {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}}, 30);
    EXPECT_EQ(windowed.exitStatus, 2);
    EXPECT_NE(windowed.standardError.find("--headless"), std::string::npos);
}

TEST_F(ProgramProcessTest, UnknownOptionsAreRefused) {
    const auto refused =
        ChildProcess::run({VELMORA_TESTABLE_PATH, "--headless", "--direct-port", "http://x"},
                          runtime_.path(), {}, 30);
    EXPECT_EQ(refused.exitStatus, 2);
    EXPECT_NE(refused.standardError.find("--direct-port"), std::string::npos);
}

}  // namespace
}  // namespace velmora::console
