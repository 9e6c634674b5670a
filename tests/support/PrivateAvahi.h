#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora::test {

// A D-Bus system bus of the test's own (a socket in a scratch folder) and an Avahi daemon on
// it that announces on the loopback interface only. The daemon runs in a mount namespace of
// its own with a private /run/avahi-daemon, so it neither meets the computer's daemon nor
// another test's. Programs reach the bus through DBUS_SYSTEM_BUS_ADDRESS.
class PrivateAvahi {
  public:
    PrivateAvahi() {
        const auto& root = scratch_.path();
        busAddress_ = "unix:path=" + (root / "bus.sock").string();
        ScratchDirectory::writeFile(root / "bus.conf", R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>)" + busAddress_ + R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
)");
        ScratchDirectory::writeFile(root / "avahi.conf", R"([server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
[publish]
publish-hinfo=no
publish-workstation=no
)");
        for (const char* program : {"/usr/bin/dbus-daemon", "/usr/sbin/avahi-daemon",
                                    "/usr/bin/avahi-browse", "/usr/bin/unshare"}) {
            if (::access(program, X_OK) != 0) {
                failure_ = std::string(program) + " is not installed";
                return;
            }
        }
        startBus();
    }
    ~PrivateAvahi() {
        stopDaemon();
        stopBus();
    }
    PrivateAvahi(const PrivateAvahi&) = delete;
    PrivateAvahi& operator=(const PrivateAvahi&) = delete;

    // Empty while the bus runs; else why it does not.
    const std::string& failure() const { return failure_; }
    const std::string& busAddress() const { return busAddress_; }
    std::map<std::string, std::string> environment() const {
        return {{"DBUS_SYSTEM_BUS_ADDRESS", busAddress_}};
    }

    // Starts the bus (again); false with failure() set when it does not come up.
    bool startBus() {
        const auto& root = scratch_.path();
        busPid_ = spawn({"/usr/bin/dbus-daemon", "--config-file=" + (root / "bus.conf").string(),
                         "--nofork", "--nopidfile"},
                        "bus");
        if (waitFor([&] { return std::filesystem::exists(root / "bus.sock"); }))
            return true;
        failure_ = "dbus-daemon did not start: " + ScratchDirectory::readFile(root / "bus.err");
        return false;
    }
    void stopBus() {
        stop(busPid_);
        busPid_ = -1;
        std::filesystem::remove(scratch_.path() / "bus.sock");
    }

    // Starts the daemon; false with failure() set when it does not come up.
    bool startDaemon() {
        const auto& root = scratch_.path();
        const std::filesystem::path log = root / "avahi.err";
        std::filesystem::remove(log);
        // The private /run/avahi-daemon needs a mount before the daemon starts; the script is
        // fixed text, the configuration path its argument.
        daemonPid_ =
            spawn({"/usr/bin/unshare", "--mount", "--propagation", "private", "--", "/bin/sh", "-c",
                   "mkdir -p /run/avahi-daemon && mount -t tmpfs tmpfs /run/avahi-daemon"
                   " && exec /usr/sbin/avahi-daemon -f \"$0\" --no-drop-root"
                   " --no-chroot --no-rlimits",
                   (root / "avahi.conf").string()},
                  "avahi");
        const bool up = waitFor([&] {
            return ScratchDirectory::readFile(log).find("Server startup complete") !=
                   std::string::npos;
        });
        if (!up) {
            failure_ = "avahi-daemon did not start: " + ScratchDirectory::readFile(log);
            stopDaemon();
        }
        return up;
    }
    void stopDaemon() {
        stop(daemonPid_);
        daemonPid_ = -1;
    }

    // Resolved "_velmora._tcp"-style services in avahi-browse's parsable form ("=;lo;IPv4;
    // name;type;domain;host;address;port;txt"), waiting up to `limit` for one to appear.
    std::vector<std::string> resolved(const std::string& type,
                                      std::chrono::seconds limit = std::chrono::seconds(15)) {
        std::vector<std::string> lines;
        waitFor(
            [&] {
                lines.clear();
                const auto browse = ChildProcess::run({"avahi-browse", "-rpt", type},
                                                      scratch_.path(), environment(), 20);
                std::istringstream output(browse.standardOutput);
                for (std::string line; std::getline(output, line);) {
                    if (line.starts_with("="))
                        lines.push_back(line);
                }
                return !lines.empty();
            },
            limit);
        return lines;
    }

    // Runs `avahi-publish` for as long as the returned process id lives (stop() ends it).
    pid_t publish(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "/usr/bin/avahi-publish");
        return spawn(arguments, "publish");
    }

    static void stop(pid_t pid) {
        ChildProcess::terminate(pid, "a private D-Bus or Avahi process");
    }

    template <typename Condition>
    static bool waitFor(Condition condition,
                        std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            if (condition())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return condition();
    }

  private:
    pid_t spawn(std::vector<std::string> arguments, const std::string& name) {
        const auto& root = scratch_.path();
        std::vector<std::string> environment = ChildProcess::environmentWith(this->environment());
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, (root / (name + ".out")).c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, (root / (name + ".err")).c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<char*> argv = ChildProcess::pointers(arguments);
        std::vector<char*> envp = ChildProcess::pointers(environment);
        pid_t pid = -1;
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }

    ScratchDirectory scratch_{"velmora-avahi"};
    std::string busAddress_;
    std::string failure_;
    pid_t busPid_ = -1;
    pid_t daemonPid_ = -1;
};

}  // namespace velmora::test
