#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/Logger.h"

namespace velmora::console {

// The file in the shared folder where the job sender leaves the outcome of a job for the
// console. The folder is shared with other users, so only a regular file of this user's own,
// of a bounded size, is ever read or removed; anything else is logged and left where it is.
//
// A result is first moved to a name only this process uses, then read, shown and removed, so a
// result the sender writes meanwhile lands under the usual name and waits for the next pass.
class DeliveryMessageFile {
  public:
    static constexpr size_t kMaxSize = 64 * 1024;

    // A result moved aside: its text and where it lies now.
    struct Taken {
        std::string text;
        std::filesystem::path privatePath;
    };

    DeliveryMessageFile(std::filesystem::path path, uid_t owner);

    // The waiting result, moved aside; nullopt when there is none, it is empty, or it is not
    // one this process may take (logged once per kind of refusal).
    std::optional<Taken> take();
    // The result was shown: it goes.
    void remove(const Taken& taken) const;
    // The result could not be shown: it returns under its usual name unless a newer one is
    // there, in which case it stays aside (logged).
    void putBack(const Taken& taken) const;
    // At start-up: a result left from an earlier run goes unshown. True when one was removed.
    bool removeStale();

    const std::filesystem::path& path() const { return path_; }
    // A fresh name beside the result, different at each call, that others cannot guess.
    std::filesystem::path privatePath() const;

  private:
    void refuse(const std::string& reason);

    std::filesystem::path path_;
    uid_t owner_;
    Logger logger_;
    std::string lastRefusal_;
};

}  // namespace velmora::console
