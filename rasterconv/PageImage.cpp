#include "PageImage.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VELMORA_HAVE_SSSE3_PATH 1
#endif

namespace velmora {

namespace {

constexpr size_t kHugePageSize = size_t{2} << 20;

// Reverses the three bytes of every pixel.
void rgbToBgrPortable(const uint8_t* in, uint8_t* out, size_t pixels) {
    for (size_t x = 0; x < pixels; ++x, in += 3, out += 3) {
        const uint8_t red = in[0];
        out[1] = in[1];
        out[0] = in[2];
        out[2] = red;
    }
}

#ifdef VELMORA_HAVE_SSSE3_PATH
// Shuffle masks for 16 pixels (48 bytes) at a time: output vector o takes its bytes from input
// vector s through kSwapMasks.bytes[o][s]; 0x80 selects nothing.
struct SwapMasks {
    alignas(16) uint8_t bytes[3][3][16];
    constexpr SwapMasks() : bytes() {
        for (int o = 0; o < 3; ++o) {
            for (int k = 0; k < 16; ++k) {
                const int out = o * 16 + k;
                const int source = (out / 3) * 3 + (2 - out % 3);
                for (int s = 0; s < 3; ++s) {
                    bytes[o][s][k] = source / 16 == s ? static_cast<uint8_t>(source % 16) : 0x80;
                }
            }
        }
    }
};
constexpr SwapMasks kSwapMasks;

__attribute__((target("ssse3"))) void rgbToBgrSsse3(const uint8_t* in, uint8_t* out,
                                                    size_t pixels) {
    auto mask = [](int o, int s) {
        return _mm_load_si128(reinterpret_cast<const __m128i*>(kSwapMasks.bytes[o][s]));
    };
    const __m128i m00 = mask(0, 0), m01 = mask(0, 1);
    const __m128i m10 = mask(1, 0), m11 = mask(1, 1), m12 = mask(1, 2);
    const __m128i m21 = mask(2, 1), m22 = mask(2, 2);
    size_t x = 0;
    for (; x + 16 <= pixels; x += 16) {
        const auto* source = reinterpret_cast<const __m128i*>(in + x * 3);
        const __m128i a = _mm_loadu_si128(source);
        const __m128i b = _mm_loadu_si128(source + 1);
        const __m128i c = _mm_loadu_si128(source + 2);
        auto* target = reinterpret_cast<__m128i*>(out + x * 3);
        _mm_storeu_si128(target, _mm_or_si128(_mm_shuffle_epi8(a, m00), _mm_shuffle_epi8(b, m01)));
        _mm_storeu_si128(target + 1, _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, m10),
                                                               _mm_shuffle_epi8(b, m11)),
                                                  _mm_shuffle_epi8(c, m12)));
        _mm_storeu_si128(target + 2,
                         _mm_or_si128(_mm_shuffle_epi8(b, m21), _mm_shuffle_epi8(c, m22)));
    }
    rgbToBgrPortable(in + x * 3, out + x * 3, pixels - x);
}

// Copies with stores that bypass the cache: the page image is far larger than the cache, and
// filling it through the cache would evict the read buffer and the kernel's page cache pages
// that the next read copies from, only to be evicted itself before the write copies it out.
__attribute__((target("sse2"))) void copyRow(uint8_t* out, const uint8_t* in, size_t size) {
    const size_t head = std::min(size, (16 - reinterpret_cast<uintptr_t>(out) % 16) % 16);
    std::memcpy(out, in, head);
    size_t done = head;
    for (; done + 64 <= size; done += 64) {
        const auto* source = reinterpret_cast<const __m128i*>(in + done);
        auto* target = reinterpret_cast<__m128i*>(out + done);
        const __m128i a = _mm_loadu_si128(source), b = _mm_loadu_si128(source + 1);
        const __m128i c = _mm_loadu_si128(source + 2), d = _mm_loadu_si128(source + 3);
        _mm_stream_si128(target, a);
        _mm_stream_si128(target + 1, b);
        _mm_stream_si128(target + 2, c);
        _mm_stream_si128(target + 3, d);
    }
    std::memcpy(out + done, in + done, size - done);
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

#ifdef VELMORA_HAVE_SSSE3_PATH
// Streaming stores are weakly ordered; the fence makes them visible before the image is read.
void finishCopies() {
    _mm_sfence();
}
#else
void copyRow(uint8_t* out, const uint8_t* in, size_t size) {
    std::memcpy(out, in, size);
}
void finishCopies() {}
#endif

}  // namespace

bool PageImage::reset(uint32_t width, uint32_t height) {
    const size_t rowSize = rowSizeFor(width);
    const size_t needed = rowSize * height;
    // Keep the buffer when it fits and is not wastefully large for this page.
    if (needed > capacity_ || needed < capacity_ / 2) {
        release();
        // Huge pages: the kernel walks the whole image once more when it copies it out, and
        // with 4 KiB pages that walk is dominated by address translation.
        const size_t rounded = (needed + kHugePageSize - 1) / kHugePageSize * kHugePageSize;
        storage_.reset(static_cast<uint8_t*>(std::aligned_alloc(kHugePageSize, rounded)));
        if (!storage_)
            return false;
        ::madvise(storage_.get(), rounded, MADV_HUGEPAGE);
        capacity_ = rounded;
    }
    try {
        // Zero-filled once: the padding bytes at its end are never overwritten.
        stagingRow_.assign(rowSize, 0);
    } catch (const std::bad_alloc&) {
        return false;
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

void PageImage::storeLine(uint32_t line, const uint8_t* samples, unsigned bitsPerColor) {
    uint8_t* out = stagingRow_.data();
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
    copyRow(row(line), stagingRow_.data(), rowSize_);
}

void PageImage::finish() {
    finishCopies();
}

}  // namespace velmora
