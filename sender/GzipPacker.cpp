#include "sender/GzipPacker.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/FileIo.h"
#include "platform/UniqueFd.h"

namespace velmora {

namespace {

struct GzCloser {
    void operator()(gzFile_s* file) const { gzclose(file); }
};
using GzFile = std::unique_ptr<gzFile_s, GzCloser>;

std::string describe(const char* what, const std::string& name) {
    return std::string(what) + " " + name + ": " + std::strerror(errno);
}

ssize_t readBlock(int fd, char* buffer, size_t size) {
    while (true) {
        const ssize_t n = ::read(fd, buffer, size);
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

bool packDescriptors(int source, int target, const std::string& sourceName,
                     const std::string& targetName, std::string& error) {
    // The stream closes the descriptor it is given; the caller keeps its own.
    const int streamFd = ::fcntl(target, F_DUPFD_CLOEXEC, 0);
    if (streamFd < 0) {
        error = describe("Cannot write", targetName);
        return false;
    }
    GzFile stream(gzdopen(streamFd, "wb"));
    if (!stream) {
        ::close(streamFd);
        error = "Cannot start a gzip stream in " + targetName;
        return false;
    }
    auto buffer = std::make_unique_for_overwrite<char[]>(GzipPacker::kBlockSize);
    while (true) {
        const ssize_t n = readBlock(source, buffer.get(), GzipPacker::kBlockSize);
        if (n < 0) {
            error = describe("Cannot read", sourceName);
            return false;
        }
        if (n == 0)
            break;
        if (gzwrite(stream.get(), buffer.get(), static_cast<unsigned>(n)) != n) {
            int code = Z_OK;
            const char* reason = gzerror(stream.get(), &code);
            error = "Cannot write " + targetName + ": " + (reason ? reason : "gzip error");
            return false;
        }
    }
    const int closed = gzclose(stream.release());
    if (closed != Z_OK) {
        error = "Cannot finish " + targetName + " (zlib error " + std::to_string(closed) + ")";
        return false;
    }
    return true;
}

bool packInto(const std::filesystem::path& source, const std::filesystem::path& target,
              bool& created, std::string& error) {
    UniqueFd input(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!input) {
        error = describe("Cannot open", source.string());
        return false;
    }
    UniqueFd output(createReplacingFile(target.c_str(), 0600));
    if (!output) {
        error = describe("Cannot create", target.string());
        return false;
    }
    created = true;
    if (!packDescriptors(input.get(), output.get(), source.string(), target.string(), error))
        return false;
    if (!output.close()) {
        error = describe("Cannot write", target.string());
        return false;
    }
    return true;
}

}  // namespace

bool GzipPacker::pack(const std::filesystem::path& source, const std::filesystem::path& target,
                      std::string& error) {
    bool created = false;
    if (packInto(source, target, created, error))
        return true;
    if (created) {
        std::error_code ignored;
        std::filesystem::remove(target, ignored);
    }
    return false;
}

bool GzipPacker::pack(int source, int target, std::string& error) {
    return packDescriptors(source, target, "descriptor " + std::to_string(source),
                           "descriptor " + std::to_string(target), error);
}

}  // namespace velmora
