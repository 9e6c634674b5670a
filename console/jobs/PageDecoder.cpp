#include "console/jobs/PageDecoder.h"

#include "core/crypto/JobFileCipher.h"
#include "core/xml/XmlHelpers.h"
#include "platform/FileIo.h"
#include "platform/UniqueFd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <zlib.h>

#include <array>
#include <memory>
#include <vector>

namespace velmora::console {

namespace {

struct GzDeleter {
    void operator()(gzFile_s* file) const { gzclose_r(file); }
};
using GzFile = std::unique_ptr<gzFile_s, GzDeleter>;

constexpr size_t kPieceBytes = 256 * 1024;

// zlib reads anything that lacks the gzip header as it is, so a file that is not packed at all
// would pass as its own unpacked form: the magic bytes are checked first.
bool startsWithGzipMagic(int fd) {
    std::array<unsigned char, 2> magic{};
    if (readFully(fd, magic.data(), magic.size()) != static_cast<ssize_t>(magic.size()))
        return false;
    return magic[0] == 0x1f && magic[1] == 0x8b && ::lseek(fd, 0, SEEK_SET) == 0;
}

}  // namespace

int PageDecoder::createFresh(const std::filesystem::path& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        return -1;
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

bool PageDecoder::isUsableKey(const std::string& base64Key) {
    const std::optional<std::vector<uint8_t>> key = dataWithBase64EncodedString(base64Key);
    return key && key->size() >= kJobFileKeySize;
}

bool PageDecoder::decrypt(const std::filesystem::path& source, const std::filesystem::path& target,
                          const std::string& base64Key, std::string& error) {
    const std::optional<std::vector<uint8_t>> key = dataWithBase64EncodedString(base64Key);
    if (!key || key->size() < kJobFileKeySize) {
        error = "The job key is not usable.";
        return false;
    }
    // The cipher creates its output itself and refuses an existing one.
    if (::unlink(target.c_str()) != 0 && errno != ENOENT) {
        error = "The temporary file cannot be replaced.";
        return false;
    }
    return decryptJobFile(source, target, *key, error);
}

bool PageDecoder::unpack(const std::filesystem::path& source, const std::filesystem::path& target,
                         std::string& error, uint64_t maxBytes) {
    UniqueFd input(::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!input) {
        error = "The packed page cannot be opened.";
        return false;
    }
    if (!startsWithGzipMagic(input.get())) {
        error = "The page is not a gzip stream.";
        return false;
    }
    // The stream closes its own descriptor.
    GzFile stream(gzdopen(::dup(input.get()), "rb"));
    input.reset();
    if (!stream) {
        error = "The packed page cannot be opened.";
        return false;
    }
    gzbuffer(stream.get(), kPieceBytes);

    UniqueFd output(createFresh(target));
    if (!output) {
        error = "The unpacked page cannot be created.";
        return false;
    }
    std::vector<char> piece(kPieceBytes);
    uint64_t total = 0;
    int read = 0;
    while ((read = gzread(stream.get(), piece.data(), static_cast<unsigned>(piece.size()))) > 0) {
        total += static_cast<uint64_t>(read);
        if (total > maxBytes) {
            error = "The page unpacks to more than " + std::to_string(maxBytes) + " bytes.";
            break;
        }
        if (!writeFully(output.get(), piece.data(), static_cast<size_t>(read))) {
            error = "The unpacked page cannot be written.";
            read = -1;
            break;
        }
    }
    const bool complete = read == 0 && total <= maxBytes;
    if (complete && gzclose_r(stream.release()) != Z_OK) {
        error = "The packed page is damaged.";
    } else if (complete && output.close()) {
        return true;
    } else if (read < 0 && error.empty()) {
        error = "The packed page is damaged.";
    }
    ::unlink(target.c_str());
    return false;
}

}  // namespace velmora::console
