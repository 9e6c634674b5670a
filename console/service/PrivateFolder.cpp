#include "console/service/PrivateFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace velmora::console {

namespace fs = std::filesystem;

PrivateFolder PrivateFolder::open(const fs::path& path, bool create, std::string& error) {
    PrivateFolder folder;
    if (path.empty()) {
        error = "No folder";
        return folder;
    }
    if (create) {
        std::error_code ec;
        fs::create_directories(path.parent_path(), ec);
        if (ec) {
            error = "Cannot create " + path.parent_path().string() + ": " + ec.message();
            return folder;
        }
        if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "Cannot create " + path.string() + ": " + std::strerror(errno);
            return folder;
        }
    }
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) {
        error = errno == ELOOP || errno == ENOTDIR
                    ? path.string() + " is not a folder"
                    : "Cannot open " + path.string() + ": " + std::strerror(errno);
        return folder;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        error = "Cannot open " + path.string() + ": " + std::strerror(errno);
        return folder;
    }
    if (info.st_uid != ::geteuid()) {
        error = path.string() + " belongs to another user";
        return folder;
    }
    if ((info.st_mode & 077) != 0 && ::fchmod(fd.get(), 0700) != 0) {
        error = "Cannot make " + path.string() + " private: " + std::strerror(errno);
        return folder;
    }
    folder.fd_ = std::move(fd);
    return folder;
}

fs::path PrivateFolder::fileInside(const std::string& name) const {
    // The descriptor's entry in /proc resolves to the folder that was checked, wherever it now
    // is, so no later swap of the folder's path can redirect the file.
    return fs::path("/proc/self/fd") / std::to_string(fd_.get()) / name;
}

}  // namespace velmora::console
