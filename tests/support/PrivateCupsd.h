#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora::test {

// A CUPS scheduler of the test's own, listening on a unix socket in a scratch folder. libcups in
// a child process finds it through CUPS_SERVER in that child's environment.
class PrivateCupsd {
  public:
    struct Options {
        // Appended to cupsd.conf (a <Policy> of the test's own, for example).
        std::string extraConfig;
        // Backends by scheme, copied into a server folder of the scheduler's own (mode 0700,
        // so that the scheduler runs them as root); the system's filters stay in use.
        std::map<std::string, std::filesystem::path> backends;
    };

    PrivateCupsd() : PrivateCupsd(Options{}) {}
    explicit PrivateCupsd(const Options& options) {
        const auto& root = scratch_.path();
        for (const char* dir : {"spool", "cache", "state", "log", "tmp", "ppd", "ssl"})
            std::filesystem::create_directories(root / dir);
        ::chmod(root.c_str(), 0755);
        // The filters run as lp and keep their temporary files here.
        ::chmod((root / "tmp").c_str(), 01777);
        socket_ = (root / "cups.sock").string();
        ScratchDirectory::writeFile(root / "cupsd.conf", "Listen " + socket_ + R"(
LogLevel warn
Browsing Off
DefaultAuthType None
WebInterface No
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
)" + options.extraConfig);
        const std::string serverBin = makeServerBin(options.backends);
        const std::string r = root.string();
        std::string files;
        for (const std::string& line :
             {std::string("FileDevice Yes"), "ServerRoot " + r, "RequestRoot " + r + "/spool",
              "CacheDir " + r + "/cache", "StateDir " + r + "/state", "TempDir " + r + "/tmp",
              "ServerBin " + serverBin, std::string("DataDir /usr/share/cups"),
              "AccessLog " + r + "/log/access_log", "ErrorLog " + r + "/log/error_log",
              "PageLog " + r + "/log/page_log", std::string("User lp"), std::string("Group lp"),
              std::string("SystemGroup root")}) {
            files += line + "\n";
        }
        ScratchDirectory::writeFile(root / "cups-files.conf", files);
        start();
    }
    ~PrivateCupsd() { ChildProcess::terminate(pid_, "cupsd"); }
    PrivateCupsd(const PrivateCupsd&) = delete;
    PrivateCupsd& operator=(const PrivateCupsd&) = delete;

    bool running() const { return failure_.empty(); }
    // Why the scheduler could not be started.
    const std::string& failure() const { return failure_; }
    std::map<std::string, std::string> environment() const { return {{"CUPS_SERVER", socket_}}; }
    // The scheduler's socket, for libcups calls made in the test's own process.
    const std::string& socketPath() const { return socket_; }

    // The scheduler's program folder: the system's, or one with the test's backends.
    std::filesystem::path serverBin() const { return serverBin_; }
    std::filesystem::path serverRoot() const { return scratch_.path(); }
    std::filesystem::path errorLog() const { return scratch_.path() / "log" / "error_log"; }

    // Runs a CUPS command ("lpadmin", "lp", ...) against this scheduler.
    ChildProcess::Result command(std::vector<std::string> arguments) const {
        return ChildProcess::run(std::move(arguments), scratch_.path(), environment(), 60);
    }

  private:
    std::string makeServerBin(const std::map<std::string, std::filesystem::path>& backends) {
        namespace fs = std::filesystem;
        serverBin_ = kSystemServerBin;
        if (backends.empty())
            return serverBin_.string();
        serverBin_ = scratch_.path() / "serverbin";
        fs::create_directories(serverBin_ / "backend");
        for (const auto& entry : fs::directory_iterator(kSystemServerBin)) {
            if (entry.path().filename() != "backend")
                fs::create_directory_symlink(entry.path(), serverBin_ / entry.path().filename());
        }
        for (const auto& [scheme, program] : backends) {
            const fs::path target = serverBin_ / "backend" / scheme;
            fs::copy_file(program, target, fs::copy_options::overwrite_existing);
            ::chmod(target.c_str(), 0700);
        }
        ::chmod(serverBin_.c_str(), 0755);
        ::chmod((serverBin_ / "backend").c_str(), 0755);
        return serverBin_.string();
    }

    void start() {
        const auto& root = scratch_.path();
        std::vector<std::string> arguments = {kCupsd, "-f",
                                              "-c",   (root / "cupsd.conf").string(),
                                              "-s",   (root / "cups-files.conf").string()};
        std::vector<char*> argv = ChildProcess::pointers(arguments);
        // The scheduler must not hold the test's output open: if the test dies, a runner that
        // reads that output until it ends would wait for the orphaned scheduler.
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, (root / "cupsd.out").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        const bool spawned =
            ::access(kCupsd, X_OK) == 0 &&
            posix_spawn(&pid_, kCupsd, &actions, nullptr, argv.data(), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        if (!spawned) {
            pid_ = -1;
            failure_ = std::string(kCupsd) + " cannot be started";
            return;
        }
        for (int attempt = 0; attempt < 100; ++attempt) {
            const auto status = command({"lpstat", "-r"});
            if (status.standardOutput.find("scheduler is running") != std::string::npos)
                return;
            int exitStatus = 0;
            if (::waitpid(pid_, &exitStatus, WNOHANG) == pid_) {
                pid_ = -1;
                failure_ = "cupsd stopped at start-up: " +
                           ScratchDirectory::readFile(root / "log" / "error_log");
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        failure_ = "cupsd did not answer within 10 seconds: " +
                   ScratchDirectory::readFile(root / "log" / "error_log");
    }

    static constexpr const char* kCupsd = "/usr/sbin/cupsd";
    static constexpr const char* kSystemServerBin = "/usr/lib/cups";
    ScratchDirectory scratch_{"velmora-cupsd"};
    std::string socket_;
    std::filesystem::path serverBin_;
    pid_t pid_ = -1;
    std::string failure_;
};

}  // namespace velmora::test
