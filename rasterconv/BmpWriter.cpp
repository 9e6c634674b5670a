#include "BmpWriter.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "StagedPageFile.h"
#include "platform/FileIo.h"

namespace velmora {

namespace {

void putLittleEndian(uint8_t* at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
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

bool BmpWriter::write(const PageImage& page, int directoryFd, const std::string& name,
                      const std::string& path, const std::array<unsigned, 2>& resolutionDpi) const {
    logger_.debug("write_bmp: starting for {} ({}x{})", path, page.width(), page.height());
    logger_.debug("write_bmp: BMP row size={}, total data size={}", page.rowSize(),
                  page.dataSize());

    StagedPageFile file(directoryFd, name);
    if (!file.create()) {
        logger_.error("write_bmp: failed to create file {}: {}", path, std::strerror(errno));
        return false;
    }

    const auto headerBytes = header(page, resolutionDpi);
    logger_.debug("write_bmp: resolution {} x {} DPI -> {} x {} ppm", resolutionDpi[0],
                  resolutionDpi[1], pixelsPerMetre(resolutionDpi[0]),
                  pixelsPerMetre(resolutionDpi[1]));
    if (!writeFully(file.fd(), headerBytes.data(), headerBytes.size())) {
        logger_.error("write_bmp: failed to write headers");
        return false;
    }

    logger_.debug("write_bmp: headers written, writing pixel data...");
    if (!writeRows(file.fd(), page))
        return false;
    logger_.debug("write_bmp: all pixel data written successfully");
    if (!file.commit()) {
        logger_.error("write_bmp: failed to complete file {}: {}", path, std::strerror(errno));
        return false;
    }
    return true;
}

// The page image already holds the rows padded, in blue-green-red order and bottom-up, so the
// pixel data goes out as one sequential block.
bool BmpWriter::writeRows(int fd, const PageImage& page) const {
    const uint8_t* data = page.fileData();
    const size_t total = page.dataSize();
    size_t done = 0;
    while (done < total) {
        const ssize_t written = ::write(fd, data + done, std::min(total - done, kWriteChunk));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            logger_.error("write_bmp: failed to write row {}", done / page.rowSize());
            return false;
        }
        done += static_cast<size_t>(written);
    }
    return true;
}

}  // namespace velmora
