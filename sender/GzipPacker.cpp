#include "sender/GzipPacker.h"

#include <fcntl.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/UniqueFd.h"

namespace velmora {

namespace {

struct GzCloser {
    void operator()(gzFile_s* file) const { gzclose(file); }
};
using GzFile = std::unique_ptr<gzFile_s, GzCloser>;

std::string describe(const char* what, const std::filesystem::path& path) {
    return std::string(what) + " " + path.string() + ": " + std::strerror(errno);
}

ssize_t readBlock(int fd, char* buffer, size_t size) {
    while (true) {
        const ssize_t n = ::read(fd, buffer, size);
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

bool packInto(const std::filesystem::path& source, const std::filesystem::path& target,
              std::string& error) {
    GzFile stream(gzopen(target.c_str(), "wb"));
    if (!stream) {
        error = describe("Cannot create", target);
        return false;
    }
    UniqueFd input(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (!input) {
        error = describe("Cannot open", source);
        return false;
    }
    auto buffer = std::make_unique_for_overwrite<char[]>(GzipPacker::kBlockSize);
    while (true) {
        const ssize_t n = readBlock(input.get(), buffer.get(), GzipPacker::kBlockSize);
        if (n < 0) {
            error = describe("Cannot read", source);
            return false;
        }
        if (n == 0)
            break;
        if (gzwrite(stream.get(), buffer.get(), static_cast<unsigned>(n)) != n) {
            int code = Z_OK;
            const char* reason = gzerror(stream.get(), &code);
            error = "Cannot write " + target.string() + ": " + (reason ? reason : "gzip error");
            return false;
        }
    }
    const int closed = gzclose(stream.release());
    if (closed != Z_OK) {
        error = "Cannot finish " + target.string() + " (zlib error " + std::to_string(closed) + ")";
        return false;
    }
    return true;
}

}  // namespace

bool GzipPacker::pack(const std::filesystem::path& source, const std::filesystem::path& target,
                      std::string& error) {
    if (packInto(source, target, error))
        return true;
    std::error_code ignored;
    std::filesystem::remove(target, ignored);
    return false;
}

}  // namespace velmora
