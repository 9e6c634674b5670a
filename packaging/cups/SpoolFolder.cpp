#include "packaging/cups/SpoolFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace velmora::backend {

namespace {

bool checkRoot(const std::filesystem::path& root, std::string& error) {
    struct stat info {};
    if (::lstat(root.c_str(), &info) != 0) {
        if (errno != ENOENT || ::mkdir(root.c_str(), 0711) != 0) {
            error = "Cannot make the spool folder " + root.string() + ": " + std::strerror(errno);
            return false;
        }
        return ::chmod(root.c_str(), 0711) == 0 && ::lstat(root.c_str(), &info) == 0;
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 022) != 0) {
        error = "The spool folder " + root.string() +
                " is not a folder of the backend's own that only it may write to";
        return false;
    }
    return true;
}

}  // namespace

std::optional<std::filesystem::path> SpoolFolder::create(const std::filesystem::path& spoolRoot,
                                                         int jobId,
                                                         const UserProcess::Account& account,
                                                         std::string& error) {
    if (!checkRoot(spoolRoot, error))
        return std::nullopt;
    std::string pattern = (spoolRoot / (std::to_string(jobId) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        error = "Cannot make a job folder in " + spoolRoot.string() + ": " + std::strerror(errno);
        return std::nullopt;
    }
    if (::geteuid() == 0 && ::chown(pattern.c_str(), account.uid, account.gid) != 0) {
        error = "Cannot hand the job folder to " + account.name + ": " + std::strerror(errno);
        ::rmdir(pattern.c_str());
        return std::nullopt;
    }
    return std::filesystem::path(pattern);
}

void SpoolFolder::remove(const std::filesystem::path& folder, const UserProcess::Account& account) {
    const pid_t pid = UserProcess::start(account, -1, [&folder] {
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ignored))
            std::filesystem::remove_all(entry.path(), ignored);
        return 0;
    });
    if (pid > 0)
        UserProcess::wait(pid);
    // Only the spool root's owner may take the folder itself out; rmdir never follows a link
    // and leaves a folder that is not empty.
    ::rmdir(folder.c_str());
}

}  // namespace velmora::backend
