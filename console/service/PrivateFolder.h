#pragma once

#include <filesystem>
#include <string>

#include "platform/UniqueFd.h"

namespace velmora::console {

// A folder of this user's own inside a folder that other users may write to (the shared
// folder). The folder is held open, so files are named through the opened folder itself: a
// folder renamed away and replaced by a link after the check is never used.
class PrivateFolder {
  public:
    // Opens `path`, creating it with mode 0700 (parents as needed) when `create` is set. Refused,
    // with a reason, when it is a symbolic link, not a folder, or owned by another user. A folder
    // of the user's own that others may enter or write is narrowed to 0700.
    static PrivateFolder open(const std::filesystem::path& path, bool create, std::string& error);

    explicit operator bool() const { return static_cast<bool>(fd_); }
    // A path for the file `name` directly inside the opened folder.
    std::filesystem::path fileInside(const std::string& name) const;

  private:
    UniqueFd fd_;
};

}  // namespace velmora::console
