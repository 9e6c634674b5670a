#include "console/app/controller/DeliveryMessageFile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <random>

#include "core/Deployment.h"
#include "platform/FileIo.h"
#include "platform/UniqueFd.h"

namespace velmora::console {

namespace fs = std::filesystem;

namespace {

bool moveWithoutReplacing(const fs::path& from, const fs::path& to) {
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

// A fresh name is drawn when one is already taken.
constexpr int kAsideAttempts = 8;

}  // namespace

DeliveryMessageFile::DeliveryMessageFile(fs::path path, uid_t owner)
    : path_(std::move(path)),
      owner_(owner),
      logger_(std::string(deployment::kLogSubsystem), "delivery") {}

// Other users of the folder can see our process id, so the name must not follow from it alone:
// a file planted at a name they could guess would make every move aside fail.
fs::path DeliveryMessageFile::privatePath() const {
    std::random_device source;
    const uint64_t nonce = (uint64_t{source()} << 32) | source();
    return path_.parent_path() /
           ("." + path_.filename().string() + "." + std::to_string(::getpid()) + "." +
            std::to_string(nonce) + ".taken");
}

void DeliveryMessageFile::refuse(const std::string& reason) {
    if (reason == lastRefusal_)
        return;
    lastRefusal_ = reason;
    logger_.error("Delivery result {} left alone: {}", path_.string(), reason);
}

std::optional<DeliveryMessageFile::Taken> DeliveryMessageFile::take() {
    // O_NONBLOCK: a FIFO put in its place must not hang this thread; O_NOFOLLOW: a link is
    // refused, never followed.
    UniqueFd fd(::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd) {
        if (errno == ENOENT) {
            lastRefusal_.clear();
            return std::nullopt;
        }
        refuse(errno == ELOOP ? "it is a symbolic link" : std::strerror(errno));
        return std::nullopt;
    }
    struct stat opened {};
    if (::fstat(fd.get(), &opened) != 0) {
        refuse(std::strerror(errno));
        return std::nullopt;
    }
    if (!S_ISREG(opened.st_mode)) {
        refuse("it is not a regular file");
        return std::nullopt;
    }
    if (opened.st_uid != owner_) {
        refuse("it belongs to another user");
        return std::nullopt;
    }
    if (opened.st_size > static_cast<off_t>(kMaxSize)) {
        refuse("it is larger than 64 KiB");
        return std::nullopt;
    }
    if (opened.st_size == 0)
        return std::nullopt;

    fs::path aside = privatePath();
    bool movedAside = moveWithoutReplacing(path_, aside);
    for (int attempt = 1; !movedAside && errno == EEXIST && attempt < kAsideAttempts; ++attempt) {
        aside = privatePath();
        movedAside = moveWithoutReplacing(path_, aside);
    }
    if (!movedAside) {
        refuse(std::string("it cannot be moved aside: ") + std::strerror(errno));
        return std::nullopt;
    }
    // The name may have been given to another file between the check and the move: only the
    // file checked above is taken.
    struct stat moved {};
    if (::lstat(aside.c_str(), &moved) != 0 || moved.st_dev != opened.st_dev ||
        moved.st_ino != opened.st_ino) {
        if (!moveWithoutReplacing(aside, path_))
            logger_.error("A file that replaced the delivery result stays at {}", aside.string());
        return std::nullopt;
    }
    std::string text(kMaxSize + 1, '\0');
    const ssize_t got = readFully(fd.get(), text.data(), text.size());
    if (got < 0 || static_cast<size_t>(got) > kMaxSize) {
        putBack({"", aside});
        refuse(got < 0 ? std::string("it cannot be read: ") + std::strerror(errno)
                       : "it grew beyond 64 KiB");
        return std::nullopt;
    }
    text.resize(static_cast<size_t>(got));
    lastRefusal_.clear();
    return Taken{std::move(text), aside};
}

void DeliveryMessageFile::remove(const Taken& taken) const {
    if (::unlink(taken.privatePath.c_str()) != 0 && errno != ENOENT)
        logger_.error("Cannot remove the delivery result {}: {}", taken.privatePath.string(),
                      std::strerror(errno));
}

void DeliveryMessageFile::putBack(const Taken& taken) const {
    if (!moveWithoutReplacing(taken.privatePath, path_))
        logger_.error("The delivery result stays at {}: {}", taken.privatePath.string(),
                      std::strerror(errno));
}

bool DeliveryMessageFile::removeStale() {
    const auto taken = take();
    if (!taken)
        return false;
    remove(*taken);
    logger_.notice("Removed a delivery result left from an earlier run");
    return true;
}

}  // namespace velmora::console
