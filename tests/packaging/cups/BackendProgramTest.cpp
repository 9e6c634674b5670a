#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "tests/support/ChildProcess.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kQueue = "Velmora_7d1c2a9e";

// The backend program as the scheduler starts it (as root, with PRINTER naming the queue),
// with the test's spool root and the real converter and sender.
class BackendProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "The backend hands folders to other users only as root";
        ::chmod(scratch_.path().c_str(), 0755);
        fs::create_directories(systemDir());
        fs::copy_file(VELMORA_BACKEND_TESTABLE_PATH, program());
        ScratchDirectory::writeFile(scratch_ / "velmora-backend.settings",
                                    "spool-dir=" + spoolRoot().string() +
                                        "\nconverter=" KESTRO_VL_CONVERT_PATH
                                        "\nsender=" VELMORA_SENDER_TESTABLE_PATH
                                        "\nsender-argument=--system-dir=" +
                                        systemDir().string() + "\n");
        nobody_ = ::getpwnam("nobody")->pw_uid;
    }

    fs::path program() const { return scratch_ / "velmora"; }
    fs::path spoolRoot() const { return scratch_ / "spool"; }
    fs::path systemDir() const { return scratch_ / "system"; }

    // The backend for a job of `user` whose data comes through a pipe; `writeEnd` feeds it.
    pid_t startReadingStdin(const std::string& user, int& writeEnd) const {
        int input[2];
        if (::pipe(input) != 0)
            return -1;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], 0);
        posix_spawn_file_actions_addclose(&actions, input[1]);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        std::vector<std::string> arguments = {program().string(), "12", user, "t", "1", ""};
        std::vector<std::string> environment = ChildProcess::environmentWith({{"PRINTER", kQueue}});
        std::vector<char*> argv = ChildProcess::pointers(arguments);
        std::vector<char*> envp = ChildProcess::pointers(environment);
        pid_t pid = -1;
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(input[0]);
        writeEnd = input[1];
        return pid;
    }

    ChildProcess::Result runBackend(std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), program().string());
        return ChildProcess::run(arguments, scratch_.path(), {{"PRINTER", kQueue}});
    }

    ScratchDirectory scratch_{"velmora-backend"};
    uid_t nobody_ = 0;
};

TEST_F(BackendProgramTest, WithoutArgumentsItListsNoDevice) {
    const auto listed = runBackend({});
    EXPECT_EQ(listed.exitStatus, 0);
    EXPECT_EQ(listed.standardOutput, "");
    EXPECT_FALSE(fs::exists(spoolRoot()));
}

TEST_F(BackendProgramTest, AJobItCannotTakeIsRefusedWithTheRightCode) {
    const fs::path garbage = scratch_ / "garbage";
    ScratchDirectory::writeFile(garbage, "not a raster stream");
    struct Case {
        std::vector<std::string> arguments;
        int exitStatus;  // man backend: 1 failed, 5 cancel the job
    };
    for (const Case& c : std::vector<Case>{
             {{"12", "nobody", "t", "1"}, 1},
             {{"12", "no-such-user-here", "t", "1", "", garbage.string()}, 5},
             {{"12", "nobody", "t", "1", "", (scratch_ / "missing").string()}, 5},
             {{"12", "nobody", "t", "1", "", garbage.string()}, 5},
         }) {
        const auto result = runBackend(c.arguments);
        EXPECT_EQ(result.exitStatus, c.exitStatus) << ::testing::PrintToString(c.arguments);
        EXPECT_EQ(result.standardError.rfind("ERROR: ", 0) != std::string::npos ||
                      result.standardError.find("\nERROR: ") != std::string::npos,
                  true)
            << result.standardError;
    }
    // The raster that could not be converted left no folder and sent nothing.
    EXPECT_TRUE(fs::is_empty(spoolRoot()));
    EXPECT_FALSE(fs::exists(systemDir() / "messages.nobody.txt"));
}

TEST_F(BackendProgramTest, ASpoolRootThatIsALinkOrOpenToOthersIsNotUsed) {
    const fs::path elsewhere = scratch_ / "elsewhere";
    fs::create_directories(elsewhere);
    const fs::path garbage = scratch_ / "garbage";
    ScratchDirectory::writeFile(garbage, "x");
    fs::create_directory_symlink(elsewhere, spoolRoot());
    auto result = runBackend({"12", "nobody", "t", "1", "", garbage.string()});
    EXPECT_EQ(result.exitStatus, 6);  // retry later
    EXPECT_TRUE(fs::is_empty(elsewhere));

    fs::remove(spoolRoot());
    fs::create_directories(spoolRoot());
    ::chmod(spoolRoot().c_str(), 0777);
    result = runBackend({"12", "nobody", "t", "1", "", garbage.string()});
    EXPECT_EQ(result.exitStatus, 6);
    EXPECT_TRUE(fs::is_empty(spoolRoot()));
}

// The scheduler cancels a job with SIGTERM: the backend passes it on to the child at work,
// removes the job's folder and ends.
TEST_F(BackendProgramTest, SigtermIsPassedOnAndTheJobFolderRemoved) {
    int input[2];
    ASSERT_EQ(::pipe(input), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_addclose(&actions, input[1]);
    posix_spawn_file_actions_addopen(&actions, 2, (scratch_ / "stderr").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> arguments = {program().string(), "12", "nobody", "t", "1", ""};
    std::vector<std::string> environment = ChildProcess::environmentWith({{"PRINTER", kQueue}});
    std::vector<char*> argv = ChildProcess::pointers(arguments);
    std::vector<char*> envp = ChildProcess::pointers(environment);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ASSERT_EQ(::write(input[1], "RaS2", 4), 4);  // the job's data keeps coming, never ends

    fs::path jobFolder;
    for (int tick = 0; tick < 300 && jobFolder.empty(); ++tick) {
        if (fs::exists(spoolRoot()) && !fs::is_empty(spoolRoot()) &&
            fs::exists(fs::directory_iterator(spoolRoot())->path() / "job.raster"))
            jobFolder = fs::directory_iterator(spoolRoot())->path();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_FALSE(jobFolder.empty());
    struct stat info {};
    ASSERT_EQ(::stat(jobFolder.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, nobody_);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    ASSERT_EQ(::stat(spoolRoot().c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 0u);
    EXPECT_EQ(info.st_mode & 07777, 0711u);

    ::kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ::close(input[1]);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 5);
    EXPECT_TRUE(fs::is_empty(spoolRoot()));
    const std::string errors = ScratchDirectory::readFile(scratch_ / "stderr");
    EXPECT_EQ(errors.find('\r'), std::string::npos);
}

// A job of root (or of any name of uid 0) would have the converter read its raster and the
// sender run with root's rights; it is cancelled before anything is stored or started.
TEST_F(BackendProgramTest, AJobOfRootIsCancelledBeforeAnythingRuns) {
    int input = -1;
    const pid_t pid = startReadingStdin("root", input);
    ASSERT_GT(pid, 0);
    ASSERT_EQ(::write(input, "RaS2", 4), 4);  // keeps coming while the backend reads

    int status = 0;
    pid_t ended = 0;
    for (int tick = 0; tick < 150 && ended == 0; ++tick) {
        ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const bool stored = fs::exists(spoolRoot()) && !fs::is_empty(spoolRoot());
    if (ended == 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, &status, 0);
    }
    ::close(input);
    EXPECT_EQ(ended, pid) << "the backend took the job of root";
    EXPECT_FALSE(stored);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 5);
}

// A job's raster that never ends is stored only up to the bound; the job is then cancelled and
// its folder removed, instead of the spool's disk filling up.
TEST_F(BackendProgramTest, AnEndlessRasterIsCancelledAtTheBound) {
    std::ofstream(scratch_ / "velmora-backend.settings", std::ios::app)
        << "max-raster-bytes=1048576\n";
    int input = -1;
    const pid_t pid = startReadingStdin("nobody", input);
    ASSERT_GT(pid, 0);

    // Writes up to 64 MiB while the backend reads, and keeps the stream open after that.
    const auto previousPipeAction = ::signal(SIGPIPE, SIG_IGN);
    std::thread writer([fd = input] {
        std::string chunk(65536, '\0');
        chunk.replace(0, 4, "RaS2");
        for (int count = 0; count < 1024; ++count) {
            if (::write(fd, chunk.data(), chunk.size()) < 0)
                return;
        }
    });
    int status = 0;
    pid_t ended = 0;
    for (int tick = 0; tick < 500 && ended == 0; ++tick) {
        ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (ended == 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, &status, 0);
    }
    // The backend is gone, so the writer's next write fails and it ends; only then is its
    // descriptor closed, never while it may still be writing to it.
    writer.join();
    ::close(input);
    ::signal(SIGPIPE, previousPipeAction);
    EXPECT_EQ(ended, pid) << "the backend kept storing an endless raster";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 5);
    EXPECT_TRUE(fs::is_empty(spoolRoot()));
}

}  // namespace
}  // namespace velmora::test
