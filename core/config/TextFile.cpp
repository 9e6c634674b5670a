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

// Length of the valid UTF-8 sequence at the start of `text`, 0 when it does not start with one.
size_t validSequenceAt(std::string_view text) {
    auto lead = static_cast<unsigned char>(text[0]);
    size_t length = sequenceLength(lead);
    if (length == 0 || length > text.size())
        return 0;
    auto second = static_cast<unsigned char>(length > 1 ? text[1] : 0x80);
    // Overlong forms, surrogates and code points above U+10FFFF.
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F))
        return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((static_cast<unsigned char>(text[k]) & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

}  // namespace

bool isValidUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const size_t length = validSequenceAt(text.substr(i));
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

std::string toValidUtf8(std::string_view text) {
    constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    std::string result;
    result.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const size_t length = validSequenceAt(text.substr(i));
        if (length == 0) {
            result += kReplacement;
            ++i;
        } else {
            result.append(text.substr(i, length));
            i += length;
        }
    }
    return result;
}

std::string truncateUtf8(std::string text, size_t maxBytes) {
    constexpr std::string_view kEllipsis = "\xE2\x80\xA6";
    if (text.size() <= maxBytes)
        return text;
    if (maxBytes < kEllipsis.size())
        return {};
    size_t cut = maxBytes - kEllipsis.size();
    // Back to the start of the character that would be split.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    text.resize(cut);
    text += kEllipsis;
    return text;
}

bool readTextFile(const std::filesystem::path& path, size_t maxSize, std::string& text,
                  std::string& error) {
    return readTextFile(path, maxSize, FileCheck(), text, error);
}

bool readTextFile(const std::filesystem::path& path, size_t maxSize, const FileCheck& check,
                  std::string& text, std::string& error) {
    // Non-blocking so that a pipe in the file's place cannot stall the open.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (fd.get() < 0) {
        error = systemError("Cannot read", path);
        return false;
    }
    return readTextFile(fd.get(), path, maxSize, check, text, error);
}

bool readTextFile(int fd, const std::filesystem::path& path, size_t maxSize, const FileCheck& check,
                  std::string& text, std::string& error) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        error = systemError("Cannot read", path);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = path.string() + " is not a regular file";
        return false;
    }
    if (check && !check(info, error))
        return false;
    if (static_cast<unsigned long long>(info.st_size) > maxSize) {
        error = path.string() + " is larger than " + std::to_string(maxSize) + " bytes";
        return false;
    }
    std::string bytes(static_cast<size_t>(info.st_size), '\0');
    const ssize_t filled = readFully(fd, bytes.data(), bytes.size());
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
