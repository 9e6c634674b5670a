#include "console/app/ui/AutostartEntry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

#include "platform/FileIo.h"
#include "platform/UniqueFd.h"

namespace velmora::console {

namespace {

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

std::string temporaryName() {
    std::random_device random;
    return std::string(".") + AutostartEntry::kFileName + "." + std::to_string(random()) + ".tmp";
}

}  // namespace

AutostartEntry::AutostartEntry(std::filesystem::path file, std::filesystem::path program)
    : file_(std::move(file)), program_(std::move(program)) {}

AutostartEntry AutostartEntry::forCurrentUser() {
    const std::filesystem::path config =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toStdString();
    return AutostartEntry(config / "autostart" / kFileName,
                          QCoreApplication::applicationFilePath().toStdString());
}

std::string AutostartEntry::execValue(const std::filesystem::path& program) {
    std::string quoted = "\"";
    // Inside the quotes these four take a backslash; the value is then escaped as a string,
    // which doubles every backslash. A percent sign would start a field code the desktop
    // replaces even inside the quotes.
    for (const char c : program.string()) {
        if (c == '\\')
            quoted += "\\\\\\\\";
        else if (c == '%')
            quoted += "%%";
        else if (c == '"' || c == '`' || c == '$')
            quoted += std::string("\\\\") + c;
        else
            quoted += c;
    }
    return quoted + "\" " + kHiddenOption;
}

std::string AutostartEntry::contents() const {
    const std::string path = program_.string();
    // A line break would start a second key, and no control character may stand in a value.
    const bool hasControl = std::any_of(path.begin(), path.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
    });
    if (path.empty() || hasControl)
        return {};
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Velmora\n"
           "Comment=Remote printing console\n"
           "Exec=" +
           execValue(program_) +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool AutostartEntry::isInstalled() const {
    struct stat info {};
    return ::lstat(file_.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::getuid();
}

int AutostartEntry::openFolder(bool create, std::string& error) const {
    const std::filesystem::path folder = file_.parent_path();
    if (create && ::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        std::error_code ignored;
        std::filesystem::create_directories(folder, ignored);
        ::chmod(folder.c_str(), 0700);
    }
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        error = systemError("Cannot open " + folder.string());
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_uid != ::getuid()) {
        ::close(fd);
        error = folder.string() + " is not your own folder";
        return -1;
    }
    return fd;
}

bool AutostartEntry::install(std::string& error) const {
    const std::string text = contents();
    if (text.empty()) {
        error = "The program's path cannot be written into an autostart entry";
        return false;
    }
    const UniqueFd folder(openFolder(true, error));
    if (!folder)
        return false;
    const std::string temporary = temporaryName();
    UniqueFd file(::openat(folder.get(), temporary.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!file) {
        error = systemError("Cannot write the autostart entry");
        return false;
    }
    const bool written =
        writeFully(file.get(), text.data(), text.size()) && ::fsync(file.get()) == 0;
    if (!file.close() || !written ||
        ::renameat(folder.get(), temporary.c_str(), folder.get(), kFileName) != 0) {
        error = systemError("Cannot write the autostart entry");
        ::unlinkat(folder.get(), temporary.c_str(), 0);
        return false;
    }
    ::fsync(folder.get());
    return true;
}

bool AutostartEntry::remove(std::string& error) const {
    const UniqueFd folder(openFolder(false, error));
    if (!folder)
        return errno == ENOENT;
    if (::unlinkat(folder.get(), kFileName, 0) != 0 && errno != ENOENT) {
        error = systemError("Cannot remove the autostart entry");
        return false;
    }
    return true;
}

}  // namespace velmora::console
