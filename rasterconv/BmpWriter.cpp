#include "BmpWriter.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>
#include <vector>

namespace velmora {

namespace {

void putLittleEndian(uint8_t* at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0)
            ::close(fd);
    }
};

bool writeAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

}  // namespace

int32_t BmpWriter::pixelsPerMetre(unsigned dpi) {
    const double ppm = dpi * 39.3701;
    return ppm >= INT32_MAX ? INT32_MAX : static_cast<int32_t>(ppm);
}

std::array<uint8_t, BmpWriter::kHeaderSize> BmpWriter::header(
    const PageImage& page, const std::array<unsigned, 2>& resolutionDpi) {
    const auto dataSize = static_cast<uint32_t>(page.dataSize());
    std::array<uint8_t, kHeaderSize> bytes{};
    bytes[0] = 'B';
    bytes[1] = 'M';
    putLittleEndian(&bytes[2], kHeaderSize + dataSize, 4);
    putLittleEndian(&bytes[10], kHeaderSize, 4);
    putLittleEndian(&bytes[14], 40, 4);
    putLittleEndian(&bytes[18], page.width(), 4);
    putLittleEndian(&bytes[22], page.height(), 4);
    putLittleEndian(&bytes[26], 1, 2);
    putLittleEndian(&bytes[28], 24, 2);
    putLittleEndian(&bytes[34], dataSize, 4);
    putLittleEndian(&bytes[38], static_cast<uint32_t>(pixelsPerMetre(resolutionDpi[0])), 4);
    putLittleEndian(&bytes[42], static_cast<uint32_t>(pixelsPerMetre(resolutionDpi[1])), 4);
    return bytes;
}

bool BmpWriter::write(const PageImage& page, const std::string& path,
                      const std::array<unsigned, 2>& resolutionDpi) const {
    logger_.debug("write_bmp: starting for {} ({}x{})", path, page.width(), page.height());
    logger_.debug("write_bmp: BMP row size={}, total data size={}", page.rowSize(),
                  page.dataSize());

    FdCloser file{::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)};
    if (file.fd < 0) {
        logger_.error("write_bmp: failed to create file {}: {}", path, std::strerror(errno));
        return false;
    }

    const auto headerBytes = header(page, resolutionDpi);
    logger_.debug("write_bmp: resolution {} x {} DPI -> {} x {} ppm", resolutionDpi[0],
                  resolutionDpi[1], pixelsPerMetre(resolutionDpi[0]),
                  pixelsPerMetre(resolutionDpi[1]));
    if (!writeAll(file.fd, headerBytes.data(), headerBytes.size())) {
        logger_.error("write_bmp: failed to write headers");
        return false;
    }

    logger_.debug("write_bmp: headers written, writing pixel data...");
    if (!writeRows(file.fd, page))
        return false;
    logger_.debug("write_bmp: all pixel data written successfully");
    // A delayed write error (full disk, network file system) only shows up here.
    const int fd = std::exchange(file.fd, -1);
    if (::close(fd) != 0) {
        logger_.error("write_bmp: failed to close file {}: {}", path, std::strerror(errno));
        return false;
    }
    return true;
}

// The page image already holds each row padded and in blue-green-red order, so rows go out
// straight from it, bottom-up, many rows to a system call.
bool BmpWriter::writeRows(int fd, const PageImage& page) const {
    const size_t rowSize = page.rowSize();
    const uint32_t height = page.height();
    std::vector<iovec> batch;
    batch.reserve(IOV_MAX);
    uint32_t firstRow = 0;  // output row k holds raster line height - 1 - k
    while (firstRow < height) {
        const uint32_t rows = std::min<uint32_t>(height - firstRow, IOV_MAX);
        batch.clear();
        for (uint32_t k = firstRow; k < firstRow + rows; ++k) {
            batch.push_back({const_cast<uint8_t*>(page.row(height - 1 - k)), rowSize});
        }
        size_t done = 0;  // bytes of this batch written so far
        const size_t total = rowSize * rows;
        iovec* pending = batch.data();
        int pendingCount = static_cast<int>(batch.size());
        while (done < total) {
            ssize_t written = ::writev(fd, pending, pendingCount);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                logger_.error("write_bmp: failed to write row {}", firstRow + done / rowSize);
                return false;
            }
            done += static_cast<size_t>(written);
            // Step past what went out, trimming a partly written row.
            auto remaining = static_cast<size_t>(written);
            while (remaining > 0 && remaining >= pending->iov_len) {
                remaining -= pending->iov_len;
                ++pending;
                --pendingCount;
            }
            if (remaining > 0) {
                pending->iov_base = static_cast<uint8_t*>(pending->iov_base) + remaining;
                pending->iov_len -= remaining;
            }
        }
        firstRow += rows;
    }
    return true;
}

}  // namespace velmora
