#include "StagedPageFile.h"

#include <fcntl.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

namespace velmora {

namespace {

// Six characters an attacker cannot guess ahead; the exclusive create is what makes the
// temporary safe, the randomness only keeps a planted name from blocking the page.
std::string randomSuffix() {
    static constexpr char kAlphabet[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    uint8_t bytes[6];
    if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        uint64_t mix = static_cast<uint64_t>(now.tv_nsec) ^
                       (static_cast<uint64_t>(::getpid()) << 32) ^
                       static_cast<uint64_t>(now.tv_sec);
        for (uint8_t& byte : bytes) {
            byte = static_cast<uint8_t>(mix);
            mix = mix * 6364136223846793005u + 1442695040888963407u;
        }
    }
    std::string suffix;
    for (uint8_t byte : bytes)
        suffix += kAlphabet[byte % (sizeof kAlphabet - 1)];
    return suffix;
}

}  // namespace

StagedPageFile::StagedPageFile(int directoryFd, std::string name)
    : directoryFd_(directoryFd), name_(std::move(name)) {}

StagedPageFile::~StagedPageFile() {
    discard();
}

bool StagedPageFile::create() {
    // Without a name until it is complete, a page cut off by a kill or a crash leaves nothing
    // in the folder. Linking it in later goes through /proc; where either is missing (a file
    // system without unnamed files, no /proc), the page is written under a hidden name instead.
    if (::access("/proc/self/fd", X_OK) == 0) {
        const int fd = ::openat(directoryFd_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (fd >= 0) {
            file_ = UniqueFd(fd);
            return true;
        }
    }
    return createNamed([this](const std::string& candidate) {
        const int fd = ::openat(directoryFd_, candidate.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
            return false;
        file_ = UniqueFd(fd);
        return true;
    });
}

bool StagedPageFile::createNamed(const std::function<bool(const std::string&)>& makeEntry) {
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        // A leading dot and a suffix after ".bmp": never listed as a page. Owner only: the
        // pages are someone's printed document.
        std::string candidate = "." + name_ + "." + randomSuffix();
        if (makeEntry(candidate)) {
            temporaryName_ = std::move(candidate);
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;  // errno is still EEXIST
}

// An unnamed file cannot be renamed over the page: it gets a hidden name first, exclusively,
// as a named temporary would.
bool StagedPageFile::linkUnnamed() {
    const std::string self = "/proc/self/fd/" + std::to_string(file_.get());
    return createNamed([this, &self](const std::string& candidate) {
        return ::linkat(AT_FDCWD, self.c_str(), directoryFd_, candidate.c_str(),
                        AT_SYMLINK_FOLLOW) == 0;
    });
}

bool StagedPageFile::commit() {
    if (temporaryName_.empty() && !linkUnnamed()) {
        const int error = errno;
        discard();
        errno = error;
        return false;
    }
    // A delayed write error (full disk, network file system) only shows up at the close.
    if (!file_.close() ||
        ::renameat(directoryFd_, temporaryName_.c_str(), directoryFd_, name_.c_str()) != 0) {
        const int error = errno;
        discard();
        errno = error;
        return false;
    }
    temporaryName_.clear();
    return true;
}

void StagedPageFile::discard() {
    file_.reset();
    if (!temporaryName_.empty()) {
        ::unlinkat(directoryFd_, temporaryName_.c_str(), 0);
        temporaryName_.clear();
    }
}

}  // namespace velmora
