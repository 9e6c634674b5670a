#include "console/remote/TrustedPpdCopy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/FileIo.h"
#include "platform/UniqueFd.h"

namespace velmora::console {

namespace {

bool readTrusted(const std::filesystem::path& path, uid_t requester, std::string& text,
                 std::string& error) {
    UniqueFd in(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!in || ::fstat(in.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        error = "The PPD " + path.string() + " is not a regular file";
        return false;
    }
    if ((info.st_uid != 0 && info.st_uid != requester) || (info.st_mode & 022) != 0) {
        error = "The PPD " + path.string() + " belongs to another user or is open to others";
        return false;
    }
    // A second name is how a user could make a file of root's (one root alone may read) look
    // like a PPD root put here.
    if (info.st_nlink != 1) {
        error = "The PPD " + path.string() + " has " + std::to_string(info.st_nlink) + " names";
        return false;
    }
    if (info.st_size <= 0 || static_cast<size_t>(info.st_size) > TrustedPpdCopy::kMaxPpdBytes) {
        error = "The PPD " + path.string() + " is empty or too large";
        return false;
    }
    text.resize(static_cast<size_t>(info.st_size));
    if (readFully(in.get(), text.data(), text.size()) != info.st_size) {
        error = "Cannot read the PPD " + path.string();
        return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<TrustedPpdCopy> TrustedPpdCopy::make(const std::filesystem::path& sharedDir,
                                                     const std::string& fileName, uid_t requester,
                                                     std::string& error) {
    std::string text;
    if (!readTrusted(sharedDir / fileName, requester, text, error))
        return nullptr;
    std::string pattern = "/tmp/velmora-ppd-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        error = "Cannot make a folder for the PPD";
        return nullptr;
    }
    auto copy = std::make_unique<TrustedPpdCopy>(pattern);
    const std::filesystem::path target = copy->folder_ / fileName;
    UniqueFd out(
        ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!out || !writeFully(out.get(), text.data(), text.size()) || !out.close()) {
        error = "Cannot copy the PPD";
        return nullptr;
    }
    return copy;
}

TrustedPpdCopy::~TrustedPpdCopy() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

}  // namespace velmora::console
