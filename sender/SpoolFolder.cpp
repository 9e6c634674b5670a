#include "sender/SpoolFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <fmt/format.h>

#include "sender/NumericAwareOrder.h"

namespace velmora {

namespace {

std::string describeErrno(const char* what, const std::filesystem::path& path) {
    return fmt::format("{} {}: {}", what, path.string(), std::strerror(errno));
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

bool SpoolFolder::hasExtension(std::string_view name, std::string_view extension) {
    if (name.size() < extension.size() + 1)
        return false;
    if (name[name.size() - extension.size() - 1] != '.')
        return false;
    std::string_view tail = name.substr(name.size() - extension.size());
    return std::equal(tail.begin(), tail.end(), extension.begin(), extension.end(),
                      [](char a, char b) {
                          return std::tolower(static_cast<unsigned char>(a)) ==
                                 std::tolower(static_cast<unsigned char>(b));
                      });
}

std::optional<SpoolFolder> SpoolFolder::open(const std::filesystem::path& givenPath,
                                             std::string& error) {
    // A closing slash or "." would make the system follow a link in the last place after all,
    // and ".." names the parent of wherever the name before it leads.
    std::string text = givenPath.string();
    while (true) {
        if (text.size() > 1 && text.back() == '/') {
            text.pop_back();
        } else if (text.size() > 2 && text.ends_with("/.")) {
            text.resize(text.size() - 2);
        } else {
            break;
        }
    }
    const std::filesystem::path path(text);
    if (path.filename() == "..") {
        error = fmt::format("The spool folder {} names a folder by way of \"..\"", path.string());
        return std::nullopt;
    }
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) {
        error = errno == ELOOP || errno == ENOTDIR
                    ? fmt::format("The spool folder {} is not a folder (a link is not accepted)",
                                  path.string())
                    : describeErrno("Cannot open the spool folder", path);
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        error = describeErrno("Cannot read the status of the spool folder", path);
        return std::nullopt;
    }
    const uid_t user = ::geteuid();
    if (info.st_uid != user) {
        error = fmt::format("The spool folder {} belongs to another account (uid {}, not {})",
                            path.string(), info.st_uid, user);
        return std::nullopt;
    }
    // Anyone else who may write the folder may plant links and files under the names the
    // sender reads and writes.
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        error = fmt::format("The spool folder {} may be written by other accounts (mode {:o})",
                            path.string(), info.st_mode & 07777);
        return std::nullopt;
    }
    return SpoolFolder(std::move(fd), path, user);
}

bool SpoolFolder::filesWithExtension(std::string_view extension, std::vector<std::string>& names,
                                     std::string& error) const {
    names.clear();
    // The listing gets a descriptor of its own: closedir() closes it.
    const int listFd = ::openat(fd_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::unique_ptr<DIR, DirCloser> dir(listFd >= 0 ? ::fdopendir(listFd) : nullptr);
    if (!dir) {
        error = describeErrno("Cannot list", path_);
        if (listFd >= 0)
            ::close(listFd);
        return false;
    }
    errno = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != ".." && hasExtension(name, extension))
            names.emplace_back(name);
    }
    if (errno != 0) {
        error = describeErrno("Cannot list", path_);
        names.clear();
        return false;
    }
    std::sort(names.begin(), names.end(), NumericAwareOrder());
    return true;
}

UniqueFd SpoolFolder::openPage(const std::string& name, std::string& error) const {
    const std::filesystem::path path = pathOf(name);
    UniqueFd fd(::openat(fd_.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        error = errno == ELOOP ? fmt::format("{} is a link, not a page", path.string())
                               : describeErrno("Cannot open", path);
        return fd;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        error = describeErrno("Cannot read the status of", path);
        return UniqueFd();
    }
    if (!S_ISREG(info.st_mode)) {
        error = fmt::format("{} is not a regular file", path.string());
        return UniqueFd();
    }
    if (info.st_uid != owner_) {
        error = fmt::format("{} belongs to another account (uid {}, not {})", path.string(),
                            info.st_uid, owner_);
        return UniqueFd();
    }
    // A second name would make some other file of the user's a page of this job.
    if (info.st_nlink != 1) {
        error = fmt::format("{} has {} names; a page has one", path.string(), info.st_nlink);
        return UniqueFd();
    }
    return fd;
}

UniqueFd SpoolFolder::createNew(const std::string& name, std::string& error) const {
    UniqueFd fd(::openat(fd_.get(), name.c_str(),
                         O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd)
        error = describeErrno("Cannot create", pathOf(name));
    return fd;
}

bool SpoolFolder::rename(const std::string& from, const std::string& to, std::string& error) const {
    if (::renameat(fd_.get(), from.c_str(), fd_.get(), to.c_str()) != 0) {
        error = fmt::format("Cannot rename {} to {}: {}", pathOf(from).string(),
                            pathOf(to).string(), std::strerror(errno));
        return false;
    }
    return true;
}

void SpoolFolder::remove(const std::string& name) const {
    ::unlinkat(fd_.get(), name.c_str(), 0);
}

bool SpoolFolder::removeIfEmpty(std::string& error) const {
    // rmdir refuses a folder that still holds anything, which is what is wanted: what the
    // sender did not make or read is not the sender's to delete. The path is checked to still
    // name the folder held open, so a folder swapped in meanwhile is left alone.
    struct stat held {};
    struct stat named {};
    if (::fstat(fd_.get(), &held) != 0 || ::lstat(path_.c_str(), &named) != 0 ||
        held.st_dev != named.st_dev || held.st_ino != named.st_ino) {
        error = fmt::format("{} is no longer the spool folder of this job", path_.string());
        return false;
    }
    if (::rmdir(path_.c_str()) != 0) {
        error = describeErrno("Cannot remove", path_);
        return false;
    }
    return true;
}

}  // namespace velmora
