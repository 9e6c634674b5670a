#include "platform/FileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace velmora {

ssize_t readFully(int fd, void* buffer, size_t size) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

bool writeFully(int fd, const void* buffer, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool copyFully(int input, int output) {
    constexpr size_t kBlock = 64 * 1024;
    uint8_t buffer[kBlock];
    while (true) {
        const ssize_t got = readFully(input, buffer, kBlock);
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        if (!writeFully(output, buffer, static_cast<size_t>(got)))
            return false;
    }
}

int createReplacingFile(const char* path, mode_t mode) {
    constexpr int kFlags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    const int fd = ::open(path, kFlags, mode);
    if (fd >= 0 || errno != EEXIST)
        return fd;
    struct stat existing {};
    if (::lstat(path, &existing) != 0)
        return -1;
    if (!S_ISREG(existing.st_mode)) {
        errno = S_ISLNK(existing.st_mode) ? ELOOP : EEXIST;
        return -1;
    }
    // Whatever appears at the name between the removal and the creation is refused by O_EXCL.
    if (::unlink(path) != 0 && errno != ENOENT)
        return -1;
    return ::open(path, kFlags, mode);
}

}  // namespace velmora
