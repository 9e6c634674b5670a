#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace velmora {

// One page held whole in memory, already in the form a 24-bit BMP stores it: blue, green, red
// per pixel, each row padded with zeros to a multiple of four bytes. Rows are kept top line
// first; the writer emits them bottom-up. The storage is reused from page to page so that a
// long job does not pay for fresh, page-faulting memory on every page.
class PageImage {
  public:
    // Prepares storage for a page; false when the memory cannot be had.
    bool reset(uint32_t width, uint32_t height);

    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    size_t rowSize() const { return rowSize_; }
    size_t dataSize() const { return rowSize_ * height_; }

    // Raster line `line` (0 is the top of the page). Lines are stored bottom-up, as the file
    // holds them, so the whole image goes out in one sequential write.
    uint8_t* row(uint32_t line) { return storage_.get() + rowSize_ * (height_ - 1 - line); }
    const uint8_t* row(uint32_t line) const {
        return storage_.get() + rowSize_ * (height_ - 1 - line);
    }
    // The pixel rows exactly as they follow the BMP headers.
    const uint8_t* fileData() const { return storage_.get(); }

    // Stores raster line `line` from chunked RGB samples of 8 or 16 bits (host byte order).
    void storeLine(uint32_t line, const uint8_t* samples, unsigned bitsPerColor);

    // A BMP row: width x 3 rounded up to a multiple of four.
    static size_t rowSizeFor(uint32_t width) {
        return (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
    }

    // Call once all lines are stored, before the image is read.
    void finish();

    // Drops the storage (for the end of a job).
    void release();

  private:
    struct FreeDeleter {
        void operator()(uint8_t* bytes) const { std::free(bytes); }
    };
    std::unique_ptr<uint8_t[], FreeDeleter> storage_;
    size_t capacity_ = 0;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    size_t rowSize_ = 0;
    // One BMP row, converted here while it is in cache and then copied into the image.
    std::vector<uint8_t> stagingRow_;
};

}  // namespace velmora
