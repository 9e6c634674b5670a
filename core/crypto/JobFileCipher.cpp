#include "core/crypto/JobFileCipher.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include <fmt/format.h>

#include "platform/FileIo.h"
#include "platform/UniqueFd.h"

namespace velmora {
namespace {

// Whole chunks per read: large enough that system calls are rare, small enough that the buffer
// stays in the processor's second-level cache between read, cipher and write.
constexpr size_t kBufferChunks = 16;
constexpr size_t kBufferBytes = kBufferChunks * kJobFileChunkSize;
constexpr size_t kBlock = Rijndael::kBlockSize;

std::string describeErrno(const char* what, const std::filesystem::path& path) {
    return fmt::format("{} {}: {}", what, path.string(), std::strerror(errno));
}

// The descriptor's file from its start; a pipe or device would give no length to lay out.
bool checkInput(int fd, const std::filesystem::path& path, struct stat& info, std::string& error) {
    if (::fstat(fd, &info) != 0) {
        error = describeErrno("Cannot read the status of", path);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = fmt::format("{} is not a regular file", path.string());
        return false;
    }
    if (::lseek(fd, 0, SEEK_SET) != 0) {
        error = describeErrno("Cannot rewind", path);
        return false;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return true;
}

// A link at the input's name is not followed: the file it names may belong to anybody.
UniqueFd openInput(const std::filesystem::path& path, struct stat& info, std::string& error) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd) {
        error = describeErrno("Cannot open", path);
        return fd;
    }
    if (!checkInput(fd.get(), path, info, error))
        return UniqueFd();
    return fd;
}

// Always a new file of mode 0600 made by this process: a link planted at the name is refused
// rather than followed, and a second name for the input is never truncated.
UniqueFd createOutput(const std::filesystem::path& path, const struct stat& input,
                      std::string& error) {
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) == 0 && existing.st_dev == input.st_dev &&
        existing.st_ino == input.st_ino) {
        error = fmt::format("{} is the input file itself", path.string());
        return UniqueFd();
    }
    UniqueFd fd(createReplacingFile(path.c_str(), 0600));
    if (!fd)
        error = describeErrno("Cannot create", path);
    return fd;
}

// Reads exactly `size` bytes; a shorter file means it changed since its length was taken.
bool readExactly(int fd, uint8_t* buffer, size_t size, const std::filesystem::path& path,
                 std::string& error) {
    const ssize_t got = readFully(fd, buffer, size);
    if (got < 0) {
        error = describeErrno("Cannot read", path);
        return false;
    }
    if (static_cast<size_t>(got) != size) {
        error = fmt::format("{} became shorter while it was read", path.string());
        return false;
    }
    return true;
}

bool atEnd(int fd, const std::filesystem::path& path, std::string& error) {
    uint8_t probe;
    const ssize_t got = readFully(fd, &probe, 1);
    if (got == 0)
        return true;
    error = got < 0 ? describeErrno("Cannot read", path)
                    : fmt::format("{} grew while it was read", path.string());
    return false;
}

bool finishOutput(UniqueFd& output, const std::filesystem::path& path, std::string& error) {
    if (!output.close()) {
        error = describeErrno("Cannot write", path);
        return false;
    }
    return true;
}

bool keyCipher(Rijndael& cipher, int direction, std::span<const uint8_t> key, std::string& error) {
    if (key.size() < kJobFileKeySize) {
        error = fmt::format("The job key has {} bytes instead of at least {}", key.size(),
                            kJobFileKeySize);
        return false;
    }
    if (cipher.initMode(Rijndael::kModeCbc, direction, key, Rijndael::kKeyLen256,
                        kJobFileInitVector) != 0) {
        error = "The job key was not accepted";
        return false;
    }
    return true;
}

std::unique_ptr<uint8_t[]> makeBuffer() {
    // Room for a padding block after a partial last chunk.
    return std::make_unique_for_overwrite<uint8_t[]>(kBufferBytes + kBlock);
}

// Encrypts one buffer-load of the plain file in place and returns the bytes to write, or -1.
int64_t encryptBuffer(const Rijndael& cipher, uint8_t* buffer, size_t length) {
    const size_t whole = length / kJobFileChunkSize * kJobFileChunkSize;
    if (cipher.blockEncryptChunks({buffer, whole}, kJobFileChunkSize, {buffer, whole}) < 0) {
        return -1;
    }
    if (whole == length)
        return static_cast<int64_t>(whole);
    // A shorter chunk is the last one; its padding block is part of the file.
    const size_t rest = length - whole;
    const int64_t written =
        cipher.padEncryptInput({buffer + whole, rest}, {buffer + whole, rest + kBlock});
    return written < 0 ? -1 : static_cast<int64_t>(whole) + written;
}

bool encryptBody(const Rijndael& cipher, int input, int output, uint64_t size,
                 const std::filesystem::path& plainPath, const std::filesystem::path& encryptedPath,
                 std::string& error) {
    const auto buffer = makeBuffer();
    uint64_t remaining = size;
    while (remaining > 0) {
        const size_t length = static_cast<size_t>(std::min<uint64_t>(remaining, kBufferBytes));
        if (!readExactly(input, buffer.get(), length, plainPath, error))
            return false;
        const int64_t bytes = encryptBuffer(cipher, buffer.get(), length);
        if (bytes < 0) {
            error = "The cipher rejected the data";
            return false;
        }
        if (!writeFully(output, buffer.get(), static_cast<size_t>(bytes))) {
            error = describeErrno("Cannot write", encryptedPath);
            return false;
        }
        remaining -= length;
    }
    return atEnd(input, plainPath, error);
}

bool encryptOpened(const Rijndael& cipher, int input, uint64_t size, int output,
                   const std::filesystem::path& plainPath,
                   const std::filesystem::path& encryptedPath, std::string& error) {
    const uint8_t padCount = static_cast<uint8_t>(kBlock - size % kBlock);
    if (!writeFully(output, &padCount, 1)) {
        error = describeErrno("Cannot write", encryptedPath);
        return false;
    }
    return encryptBody(cipher, input, output, size, plainPath, encryptedPath, error);
}

bool encryptInto(const std::filesystem::path& plainPath, const std::filesystem::path& encryptedPath,
                 std::span<const uint8_t> key, Rijndael::Engine engine, bool& created,
                 std::string& error) {
    Rijndael cipher(engine);
    if (!keyCipher(cipher, Rijndael::kDirEncrypt, key, error))
        return false;
    struct stat info {};
    UniqueFd input = openInput(plainPath, info, error);
    if (!input)
        return false;
    UniqueFd output = createOutput(encryptedPath, info, error);
    if (!output)
        return false;
    created = true;
    if (!encryptOpened(cipher, input.get(), static_cast<uint64_t>(info.st_size), output.get(),
                       plainPath, encryptedPath, error)) {
        return false;
    }
    return finishOutput(output, encryptedPath, error);
}

// How the encrypted file is laid out, worked out from its length and pad count before any
// output is created.
struct EncryptedLayout {
    uint64_t bodySize = 0;     // everything after the pad count
    size_t lastChunkSize = 0;  // 0 for an empty body
    uint8_t padCount = 0;
};

bool checkLayout(uint64_t fileSize, uint8_t padCount, EncryptedLayout& layout, std::string& error) {
    if (padCount < 1 || padCount > kBlock) {
        error = fmt::format("Bad pad count {} in the encrypted file", padCount);
        return false;
    }
    layout.bodySize = fileSize - 1;
    layout.padCount = padCount;
    const size_t tail = static_cast<size_t>(layout.bodySize % kJobFileChunkSize);
    if (tail % kBlock != 0) {
        error = "The encrypted file is truncated or damaged (its length does not fit)";
        return false;
    }
    if (layout.bodySize == 0) {
        // Only an empty plain file has no chunks, and it always has the pad count 16.
        if (padCount != kBlock) {
            error = fmt::format("Bad pad count {} for an empty encrypted file", padCount);
            return false;
        }
        return true;
    }
    layout.lastChunkSize = tail != 0 ? tail : kJobFileChunkSize;
    return true;
}

// How many bytes at the end of the decrypted last chunk are padding. A full-size last chunk with
// pad count 16 comes either from a plain file whose length is a multiple of 16384 (no padding)
// or from one that ended 16 bytes short of that (a whole padding block); the decrypted bytes
// tell them apart.
size_t paddingLength(const uint8_t* chunkEnd, const EncryptedLayout& layout) {
    if (layout.lastChunkSize < kJobFileChunkSize || layout.padCount < kBlock) {
        return layout.padCount;
    }
    const bool wholeBlockOfPadding =
        std::all_of(chunkEnd - kBlock, chunkEnd, [](uint8_t b) { return b == kBlock; });
    return wholeBlockOfPadding ? kBlock : 0;
}

bool decryptChunks(const Rijndael& cipher, uint8_t* buffer, size_t length) {
    for (size_t offset = 0; offset < length; offset += kJobFileChunkSize) {
        const size_t chunk = std::min(kJobFileChunkSize, length - offset);
        if (cipher.blockDecryptInput({buffer + offset, chunk}, {buffer + offset, chunk}) < 0) {
            return false;
        }
    }
    return true;
}

bool decryptBody(const Rijndael& cipher, int input, int output, const EncryptedLayout& layout,
                 const std::filesystem::path& encryptedPath, const std::filesystem::path& plainPath,
                 std::string& error) {
    const auto buffer = makeBuffer();
    uint64_t remaining = layout.bodySize;
    while (remaining > 0) {
        const size_t length = static_cast<size_t>(std::min<uint64_t>(remaining, kBufferBytes));
        if (!readExactly(input, buffer.get(), length, encryptedPath, error))
            return false;
        if (!decryptChunks(cipher, buffer.get(), length)) {
            error = "The cipher rejected the data";
            return false;
        }
        remaining -= length;
        size_t keep = length;
        if (remaining == 0) {
            const uint8_t* end = buffer.get() + length;
            const size_t padding = paddingLength(end, layout);
            if (!std::all_of(end - padding, end, [&](uint8_t b) { return b == layout.padCount; })) {
                error = "The padding of the encrypted file is wrong (wrong key or damaged file)";
                return false;
            }
            keep -= padding;
        }
        if (!writeFully(output, buffer.get(), keep)) {
            error = describeErrno("Cannot write", plainPath);
            return false;
        }
    }
    return atEnd(input, encryptedPath, error);
}

bool decryptInto(const std::filesystem::path& encryptedPath, const std::filesystem::path& plainPath,
                 std::span<const uint8_t> key, Rijndael::Engine engine, bool& created,
                 std::string& error) {
    Rijndael cipher(engine);
    if (!keyCipher(cipher, Rijndael::kDirDecrypt, key, error))
        return false;
    struct stat info {};
    UniqueFd input = openInput(encryptedPath, info, error);
    if (!input)
        return false;
    uint8_t padCount = 0;
    const ssize_t got = readFully(input.get(), &padCount, 1);
    if (got < 0) {
        error = describeErrno("Cannot read", encryptedPath);
        return false;
    }
    if (got == 0 || info.st_size < 1) {
        error = fmt::format("{} is empty", encryptedPath.string());
        return false;
    }
    EncryptedLayout layout;
    if (!checkLayout(static_cast<uint64_t>(info.st_size), padCount, layout, error))
        return false;

    UniqueFd output = createOutput(plainPath, info, error);
    if (!output)
        return false;
    created = true;
    if (!decryptBody(cipher, input.get(), output.get(), layout, encryptedPath, plainPath, error)) {
        return false;
    }
    return finishOutput(output, plainPath, error);
}

// A partly written file is of no use to anybody and, for decryption, holds plain text.
bool removeOnFailure(bool ok, bool created, const std::filesystem::path& path) {
    if (!ok && created) {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
    return ok;
}

}  // namespace

bool encryptJobFile(const std::filesystem::path& plainPath,
                    const std::filesystem::path& encryptedPath, std::span<const uint8_t> key,
                    std::string& error, Rijndael::Engine engine) {
    bool created = false;
    const bool ok = encryptInto(plainPath, encryptedPath, key, engine, created, error);
    return removeOnFailure(ok, created, encryptedPath);
}

bool encryptJobFile(int plainFd, int encryptedFd, std::span<const uint8_t> key, std::string& error,
                    Rijndael::Engine engine) {
    // Names for the messages only; nothing is opened by name.
    const std::filesystem::path plainName = fmt::format("descriptor {}", plainFd);
    const std::filesystem::path encryptedName = fmt::format("descriptor {}", encryptedFd);
    Rijndael cipher(engine);
    if (!keyCipher(cipher, Rijndael::kDirEncrypt, key, error))
        return false;
    struct stat info {};
    if (!checkInput(plainFd, plainName, info, error))
        return false;
    return encryptOpened(cipher, plainFd, static_cast<uint64_t>(info.st_size), encryptedFd,
                         plainName, encryptedName, error);
}

bool decryptJobFile(const std::filesystem::path& encryptedPath,
                    const std::filesystem::path& plainPath, std::span<const uint8_t> key,
                    std::string& error, Rijndael::Engine engine) {
    bool created = false;
    const bool ok = decryptInto(encryptedPath, plainPath, key, engine, created, error);
    return removeOnFailure(ok, created, plainPath);
}

}  // namespace velmora
