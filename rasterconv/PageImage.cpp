#include "PageImage.h"

#include <cstring>
#include <new>
#include <utility>

namespace velmora {

bool PageImage::reset(uint32_t width, uint32_t height) {
    const size_t rowSize = rowSizeFor(width);
    const size_t needed = rowSize * height;
    // Keep the buffer when it fits and is not wastefully large for this page.
    if (needed > capacity_ || needed < capacity_ / 2) {
        release();
        try {
            storage_ = std::make_unique_for_overwrite<uint8_t[]>(needed);
        } catch (const std::bad_alloc&) {
            return false;
        }
        capacity_ = needed;
    }
    width_ = width;
    height_ = height;
    rowSize_ = rowSize;
    return true;
}

void PageImage::release() {
    storage_.reset();
    capacity_ = 0;
}

void PageImage::padRow(uint8_t* row) const {
    const size_t pixels = static_cast<size_t>(width_) * 3;
    std::memset(row + pixels, 0, rowSize_ - pixels);
}

void PageImage::storeLine(uint32_t line, const uint8_t* samples, unsigned bitsPerColor) {
    uint8_t* out = row(line);
    if (bitsPerColor == 16) {
        // Keep the high-order byte of each sample, whatever the host's byte order.
        for (uint32_t x = 0; x < width_; ++x, samples += 6, out += 3) {
            uint16_t r, g, b;
            std::memcpy(&r, samples, 2);
            std::memcpy(&g, samples + 2, 2);
            std::memcpy(&b, samples + 4, 2);
            out[0] = static_cast<uint8_t>(b >> 8);
            out[1] = static_cast<uint8_t>(g >> 8);
            out[2] = static_cast<uint8_t>(r >> 8);
        }
    } else {
        for (uint32_t x = 0; x < width_; ++x, samples += 3, out += 3) {
            out[0] = samples[2];
            out[1] = samples[1];
            out[2] = samples[0];
        }
    }
    padRow(row(line));
}

void PageImage::finishLineInPlace(uint32_t line) {
    uint8_t* pixel = row(line);
    for (uint32_t x = 0; x < width_; ++x, pixel += 3)
        std::swap(pixel[0], pixel[2]);
    padRow(row(line));
}

}  // namespace velmora
