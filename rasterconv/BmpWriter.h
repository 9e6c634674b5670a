#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "PageImage.h"
#include "platform/Logger.h"

namespace velmora {

// Writes a page image as an uncompressed, bottom-up 24-bit BMP file.
class BmpWriter {
  public:
    explicit BmpWriter(const Logger& logger) : logger_(logger) {}

    // Writes the page as `name` in the folder open as `directoryFd` (`path` names it in the
    // log). The file appears under its name only when complete; a page that fails leaves no
    // file of its own behind.
    bool write(const PageImage& page, int directoryFd, const std::string& name,
               const std::string& path, const std::array<unsigned, 2>& resolutionDpi) const;

    static constexpr size_t kHeaderSize = 54;
    // Largest single write; the kernel takes less than 2 GiB per call anyway.
    static constexpr size_t kWriteChunk = size_t{64} << 20;
    static uint64_t fileSize(const PageImage& page) { return kHeaderSize + page.dataSize(); }
    // Pixels per metre for a resolution in dots per inch, truncated toward zero.
    static int32_t pixelsPerMetre(unsigned dpi);
    static std::array<uint8_t, kHeaderSize> header(const PageImage& page,
                                                   const std::array<unsigned, 2>& resolutionDpi);

  private:
    bool writeRows(int fd, const PageImage& page) const;

    const Logger& logger_;
};

}  // namespace velmora
