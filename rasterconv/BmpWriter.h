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

    // Creates (or truncates) `path` and writes the page; a file whose writing failed is left as
    // far as it got.
    bool write(const PageImage& page, const std::string& path,
               const std::array<unsigned, 2>& resolutionDpi) const;

    static constexpr size_t kHeaderSize = 54;
    // Largest single write; the kernel takes less than 2 GiB per call anyway.
    static constexpr size_t kWriteChunk = size_t{64} << 20;
    // Pixels per metre for a resolution in dots per inch, truncated toward zero.
    static int32_t pixelsPerMetre(unsigned dpi);
    static std::array<uint8_t, kHeaderSize> header(const PageImage& page,
                                                   const std::array<unsigned, 2>& resolutionDpi);

  private:
    bool writeRows(int fd, const PageImage& page) const;

    const Logger& logger_;
};

}  // namespace velmora
