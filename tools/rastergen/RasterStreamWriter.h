#pragma once

#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora {

// Writes CUPS raster streams with libcups itself, so the converter is tested against the
// byte layouts the print system really produces.
class RasterStreamWriter {
  public:
    RasterStreamWriter(const std::string& path, cups_mode_t mode) {
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd_ < 0)
            throw std::runtime_error("cannot create " + path);
        raster_ = cupsRasterOpen(fd_, mode);
        if (raster_ == nullptr)
            throw std::runtime_error("cupsRasterOpen failed");
    }
    RasterStreamWriter(const RasterStreamWriter&) = delete;
    RasterStreamWriter& operator=(const RasterStreamWriter&) = delete;
    ~RasterStreamWriter() { close(); }

    static cups_page_header2_t header(unsigned width, unsigned height,
                                      cups_cspace_t colorSpace = CUPS_CSPACE_RGB,
                                      unsigned bitsPerColor = 8, unsigned dpi = 300) {
        cups_page_header2_t h;
        std::memset(&h, 0, sizeof h);
        std::strcpy(h.MediaClass, "PwgRaster");
        h.cupsWidth = width;
        h.cupsHeight = height;
        h.cupsColorSpace = colorSpace;
        h.cupsColorOrder = CUPS_ORDER_CHUNKED;
        h.cupsBitsPerColor = bitsPerColor;
        h.cupsNumColors =
            colorSpace == CUPS_CSPACE_CMYK ? 4 : (colorSpace == CUPS_CSPACE_W ? 1 : 3);
        h.cupsBitsPerPixel = bitsPerColor * h.cupsNumColors;
        h.cupsBytesPerLine = (width * h.cupsBitsPerPixel + 7) / 8;
        h.HWResolution[0] = h.HWResolution[1] = dpi;
        h.PageSize[0] = width * 72 / dpi;
        h.PageSize[1] = height * 72 / dpi;
        return h;
    }

    // Writes a page; `pixel(line)` returns the bytes of one raster line (cupsBytesPerLine long).
    void page(cups_page_header2_t h, const std::function<std::vector<uint8_t>(unsigned)>& line,
              unsigned linesToWrite = ~0u) {
        if (!cupsRasterWriteHeader2(raster_, &h))
            throw std::runtime_error("header write failed");
        const unsigned lines = std::min(linesToWrite, h.cupsHeight);
        for (unsigned y = 0; y < lines; ++y) {
            std::vector<uint8_t> bytes = line(y);
            bytes.resize(h.cupsBytesPerLine);
            if (cupsRasterWritePixels(raster_, bytes.data(), h.cupsBytesPerLine) !=
                h.cupsBytesPerLine) {
                throw std::runtime_error("pixel write failed");
            }
        }
    }

    void close() {
        if (raster_ != nullptr)
            cupsRasterClose(raster_);
        raster_ = nullptr;
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_ = -1;
    cups_raster_t* raster_ = nullptr;
};

}  // namespace velmora
