#include "PageImage.h"

#include <cstring>
#include <new>
#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VELMORA_HAVE_SSSE3_PATH 1
#endif

namespace velmora {

namespace {

// Reverses the three bytes of every pixel; `in` and `out` may be the same buffer.
void rgbToBgrPortable(const uint8_t* in, uint8_t* out, size_t pixels) {
    for (size_t x = 0; x < pixels; ++x, in += 3, out += 3) {
        const uint8_t red = in[0];
        out[1] = in[1];
        out[0] = in[2];
        out[2] = red;
    }
}

#ifdef VELMORA_HAVE_SSSE3_PATH
// Five pixels per shuffle. The sixteenth byte maps to itself, so a store never changes a byte
// that a later step has yet to read, and converting in place works.
__attribute__((target("ssse3"))) void rgbToBgrSsse3(const uint8_t* in, uint8_t* out,
                                                    size_t pixels) {
    const __m128i reverse = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    size_t x = 0;
    for (; x + 6 <= pixels; x += 5) {  // 16 bytes must be readable: one pixel to spare
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x * 3));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x * 3), _mm_shuffle_epi8(block, reverse));
    }
    rgbToBgrPortable(in + x * 3, out + x * 3, pixels - x);
}
#endif

using RgbToBgr = void (*)(const uint8_t*, uint8_t*, size_t);

RgbToBgr chooseRgbToBgr() {
#ifdef VELMORA_HAVE_SSSE3_PATH
    if (__builtin_cpu_supports("ssse3"))
        return rgbToBgrSsse3;
#endif
    return rgbToBgrPortable;
}

const RgbToBgr rgbToBgr = chooseRgbToBgr();

}  // namespace

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
        rgbToBgr(samples, out, width_);
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
