#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "platform/Logger.h"

class QLocalServer;

namespace velmora::console {

// One console per user: the first start listens on a local socket named after the user id in
// the user's private runtime folder; a later start finds it there, asks it to bring its window
// forward and ends. A socket left by a console that died is recognised and replaced.
class SingleInstance {
  public:
    enum class Role { First, Second, Unguarded };

    SingleInstance(std::filesystem::path runtimeDir, uid_t uid);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // First: this process listens; Second: another console of this user runs and was told to
    // raise its window; Unguarded: no private folder or socket (logged), the console runs
    // anyway. Needs the Qt application object.
    Role claim();
    // Runs on the main loop whenever a later start asks.
    void setRaiseHandler(std::function<void()> raise) { raise_ = std::move(raise); }

    std::filesystem::path socketPath() const;

    // "/run/user/<uid>" when it is the user's private folder, else "/tmp/velmora-<uid>" made
    // private to the user; nullopt when neither is.
    static std::optional<std::filesystem::path> defaultRuntimeDir(uid_t uid);
    // A folder owned by `uid`, not a link, that no one else may write.
    static bool isPrivateFolder(const std::filesystem::path& folder, uid_t uid);

  private:
    bool askRunningInstance() const;

    std::filesystem::path runtimeDir_;
    uid_t uid_;
    std::unique_ptr<QLocalServer> server_;
    std::function<void()> raise_;
    Logger logger_;
};

}  // namespace velmora::console
