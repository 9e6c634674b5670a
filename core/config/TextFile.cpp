#include "core/config/TextFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/FileIo.h"
#include "platform/UniqueFd.h"

namespace velmora {

namespace {

std::string systemError(const char* what, const std::filesystem::path& path) {
    return std::string(what) + " " + path.string() + ": " + std::strerror(errno);
}

// Length of the UTF-8 sequence that starts with `lead`, 0 when it cannot start one.
size_t sequenceLength(unsigned char lead) {
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

}  // namespace

bool isValidUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        auto lead = static_cast<unsigned char>(text[i]);
        size_t length = sequenceLength(lead);
        if (length == 0 || i + length > text.size())
            return false;
        auto second = static_cast<unsigned char>(length > 1 ? text[i + 1] : 0x80);
        // Overlong forms, surrogates and code points above U+10FFFF.
        if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
            (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F))
            return false;
        for (size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        }
        i += length;
    }
    return true;
}

bool readTextFile(const std::filesystem::path& path, size_t maxSize, std::string& text,
                  std::string& error) {
    // Non-blocking so that a pipe in the file's place cannot stall the open.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (fd.get() < 0) {
        error = systemError("Cannot read", path);
        return false;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        error = systemError("Cannot read", path);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = path.string() + " is not a regular file";
        return false;
    }
    if (static_cast<unsigned long long>(info.st_size) > maxSize) {
        error = path.string() + " is larger than " + std::to_string(maxSize) + " bytes";
        return false;
    }
    std::string bytes(static_cast<size_t>(info.st_size), '\0');
    const ssize_t filled = readFully(fd.get(), bytes.data(), bytes.size());
    if (filled < 0) {
        error = systemError("Cannot read", path);
        return false;
    }
    bytes.resize(static_cast<size_t>(filled));
    if (!isValidUtf8(bytes)) {
        error = path.string() + " is not UTF-8 text";
        return false;
    }
    text = std::move(bytes);
    return true;
}

}  // namespace velmora
