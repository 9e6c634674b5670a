// AES through the processor's AES instructions. The functions are compiled for the AES and SSE4.1
// extensions only and are reached through hardwareBackend(), which hands them out after the
// processor has been asked whether it has them.
//
// CBC decryption and the encryption of independent chunks keep eight blocks in flight: one AES
// round instruction has a latency of several cycles but the processor accepts a new one every
// cycle or two, so a single chain leaves most of the unit idle.

#include <immintrin.h>

#include <cstring>

#include "core/crypto/AesBackend.h"
#include "core/crypto/AesTables.h"

#define VELMORA_AESNI __attribute__((target("aes,sse4.1")))
// Every lane and round loop is unrolled so that the lanes stay in registers.
#define VELMORA_UNROLL _Pragma("GCC unroll 16")
#define VELMORA_AESNI_INLINE __attribute__((target("aes,sse4.1"), always_inline)) inline

namespace velmora::aes {
namespace {

constexpr size_t kLanes = 8;

template <int Rounds>
struct Keys {
    __m128i k[Rounds + 1];
};

template <int Rounds>
VELMORA_AESNI_INLINE Keys<Rounds> loadKeys(const uint8_t* roundKeys) {
    Keys<Rounds> keys;
    VELMORA_UNROLL
    for (int i = 0; i <= Rounds; ++i) {
        keys.k[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(roundKeys + 16 * i));
    }
    return keys;
}

VELMORA_AESNI_INLINE __m128i load(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

VELMORA_AESNI_INLINE void store(uint8_t* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

template <int Rounds>
VELMORA_AESNI_INLINE __m128i encryptOne(const Keys<Rounds>& keys, __m128i block) {
    block = _mm_xor_si128(block, keys.k[0]);
    VELMORA_UNROLL
    for (int r = 1; r < Rounds; ++r)
        block = _mm_aesenc_si128(block, keys.k[r]);
    return _mm_aesenclast_si128(block, keys.k[Rounds]);
}

template <int Rounds>
VELMORA_AESNI_INLINE __m128i decryptOne(const Keys<Rounds>& keys, __m128i block) {
    block = _mm_xor_si128(block, keys.k[0]);
    VELMORA_UNROLL
    for (int r = 1; r < Rounds; ++r)
        block = _mm_aesdec_si128(block, keys.k[r]);
    return _mm_aesdeclast_si128(block, keys.k[Rounds]);
}

template <int Rounds>
VELMORA_AESNI_INLINE void encryptLanes(const Keys<Rounds>& keys, __m128i (&b)[kLanes]) {
    VELMORA_UNROLL
    for (size_t j = 0; j < kLanes; ++j)
        b[j] = _mm_xor_si128(b[j], keys.k[0]);
    VELMORA_UNROLL
    for (int r = 1; r < Rounds; ++r) {
        VELMORA_UNROLL
        for (size_t j = 0; j < kLanes; ++j)
            b[j] = _mm_aesenc_si128(b[j], keys.k[r]);
    }
    VELMORA_UNROLL
    for (size_t j = 0; j < kLanes; ++j)
        b[j] = _mm_aesenclast_si128(b[j], keys.k[Rounds]);
}

template <int Rounds>
VELMORA_AESNI_INLINE void decryptLanes(const Keys<Rounds>& keys, __m128i (&b)[kLanes]) {
    VELMORA_UNROLL
    for (size_t j = 0; j < kLanes; ++j)
        b[j] = _mm_xor_si128(b[j], keys.k[0]);
    VELMORA_UNROLL
    for (int r = 1; r < Rounds; ++r) {
        VELMORA_UNROLL
        for (size_t j = 0; j < kLanes; ++j)
            b[j] = _mm_aesdec_si128(b[j], keys.k[r]);
    }
    VELMORA_UNROLL
    for (size_t j = 0; j < kLanes; ++j)
        b[j] = _mm_aesdeclast_si128(b[j], keys.k[Rounds]);
}

// Both directions of ECB: eight blocks in flight, then the rest one at a time.
template <int Rounds, bool Decrypt>
VELMORA_AESNI void ecbCrypt(const uint8_t* roundKeys, const uint8_t* in, uint8_t* out,
                            size_t blocks) {
    const Keys<Rounds> keys = loadKeys<Rounds>(roundKeys);
    size_t i = 0;
    for (; i + kLanes <= blocks; i += kLanes) {
        __m128i b[kLanes];
        VELMORA_UNROLL
        for (size_t j = 0; j < kLanes; ++j)
            b[j] = load(in + 16 * (i + j));
        if constexpr (Decrypt)
            decryptLanes<Rounds>(keys, b);
        else
            encryptLanes<Rounds>(keys, b);
        VELMORA_UNROLL
        for (size_t j = 0; j < kLanes; ++j)
            store(out + 16 * (i + j), b[j]);
    }
    for (; i < blocks; ++i) {
        const __m128i block = load(in + 16 * i);
        store(out + 16 * i,
              Decrypt ? decryptOne<Rounds>(keys, block) : encryptOne<Rounds>(keys, block));
    }
}

template <int Rounds>
VELMORA_AESNI void cbcEncryptT(const uint8_t* roundKeys, const uint8_t* iv, const uint8_t* in,
                               uint8_t* out, size_t blocks) {
    const Keys<Rounds> keys = loadKeys<Rounds>(roundKeys);
    __m128i chain = load(iv);
    for (size_t i = 0; i < blocks; ++i) {
        chain = encryptOne<Rounds>(keys, _mm_xor_si128(chain, load(in + 16 * i)));
        store(out + 16 * i, chain);
    }
}

template <int Rounds>
VELMORA_AESNI void cbcDecryptT(const uint8_t* roundKeys, const uint8_t* iv, const uint8_t* in,
                               uint8_t* out, size_t blocks) {
    const Keys<Rounds> keys = loadKeys<Rounds>(roundKeys);
    __m128i previous = load(iv);
    size_t i = 0;
    for (; i + kLanes <= blocks; i += kLanes) {
        const uint8_t* src = in + 16 * i;
        uint8_t* dst = out + 16 * i;
        __m128i b[kLanes];
        VELMORA_UNROLL
        for (size_t j = 0; j < kLanes; ++j)
            b[j] = load(src + 16 * j);
        const __m128i nextPrevious = b[kLanes - 1];
        decryptLanes<Rounds>(keys, b);
        // Every cipher text block is read again before the first store, so that working in
        // place is safe, and the stores then go out in address order.
        VELMORA_UNROLL
        for (size_t j = kLanes - 1; j > 0; --j)
            b[j] = _mm_xor_si128(b[j], load(src + 16 * (j - 1)));
        b[0] = _mm_xor_si128(b[0], previous);
        VELMORA_UNROLL
        for (size_t j = 0; j < kLanes; ++j)
            store(dst + 16 * j, b[j]);
        previous = nextPrevious;
    }
    for (; i < blocks; ++i) {
        const __m128i cipherText = load(in + 16 * i);
        store(out + 16 * i, _mm_xor_si128(decryptOne<Rounds>(keys, cipherText), previous));
        previous = cipherText;
    }
}

template <int Rounds>
VELMORA_AESNI void cbcEncryptChunksT(const uint8_t* roundKeys, const uint8_t* iv, const uint8_t* in,
                                     uint8_t* out, size_t chunkBlocks, size_t chunks) {
    const Keys<Rounds> keys = loadKeys<Rounds>(roundKeys);
    const size_t chunkBytes = chunkBlocks * 16;
    const __m128i start = load(iv);
    size_t c = 0;
    for (; c + kLanes <= chunks; c += kLanes) {
        const uint8_t* src = in + c * chunkBytes;
        uint8_t* dst = out + c * chunkBytes;
        __m128i chain[kLanes];
        VELMORA_UNROLL
        for (size_t j = 0; j < kLanes; ++j)
            chain[j] = start;
        for (size_t i = 0; i < chunkBlocks; ++i) {
            VELMORA_UNROLL
            for (size_t j = 0; j < kLanes; ++j) {
                chain[j] = _mm_xor_si128(chain[j], load(src + j * chunkBytes + 16 * i));
            }
            encryptLanes<Rounds>(keys, chain);
            VELMORA_UNROLL
            for (size_t j = 0; j < kLanes; ++j)
                store(dst + j * chunkBytes + 16 * i, chain[j]);
        }
    }
    for (; c < chunks; ++c) {
        cbcEncryptT<Rounds>(roundKeys, iv, in + c * chunkBytes, out + c * chunkBytes, chunkBlocks);
    }
}

// The round count is a template argument so that every round loop unrolls completely.
template <template <int> class Op, typename... Args>
void byRounds(int rounds, Args... args) {
    switch (rounds) {
        case 10:
            Op<10>::run(args...);
            break;
        case 12:
            Op<12>::run(args...);
            break;
        default:
            Op<14>::run(args...);
            break;
    }
}

template <int R>
struct EcbEncryptOp {
    static void run(const uint8_t* k, const uint8_t* in, uint8_t* out, size_t n) {
        ecbCrypt<R, false>(k, in, out, n);
    }
};
template <int R>
struct EcbDecryptOp {
    static void run(const uint8_t* k, const uint8_t* in, uint8_t* out, size_t n) {
        ecbCrypt<R, true>(k, in, out, n);
    }
};
template <int R>
struct CbcEncryptOp {
    static void run(const uint8_t* k, const uint8_t* iv, const uint8_t* in, uint8_t* out,
                    size_t n) {
        cbcEncryptT<R>(k, iv, in, out, n);
    }
};
template <int R>
struct CbcDecryptOp {
    static void run(const uint8_t* k, const uint8_t* iv, const uint8_t* in, uint8_t* out,
                    size_t n) {
        cbcDecryptT<R>(k, iv, in, out, n);
    }
};
template <int R>
struct CbcEncryptChunksOp {
    static void run(const uint8_t* k, const uint8_t* iv, const uint8_t* in, uint8_t* out,
                    size_t chunkBlocks, size_t chunks) {
        cbcEncryptChunksT<R>(k, iv, in, out, chunkBlocks, chunks);
    }
};

void encryptBlocks(const uint8_t* k, int rounds, const uint8_t* in, uint8_t* out, size_t n) {
    byRounds<EcbEncryptOp>(rounds, k, in, out, n);
}
void decryptBlocks(const uint8_t* k, int rounds, const uint8_t* in, uint8_t* out, size_t n) {
    byRounds<EcbDecryptOp>(rounds, k, in, out, n);
}
void cbcEncrypt(const uint8_t* k, int rounds, const uint8_t* iv, const uint8_t* in, uint8_t* out,
                size_t n) {
    byRounds<CbcEncryptOp>(rounds, k, iv, in, out, n);
}
void cbcDecrypt(const uint8_t* k, int rounds, const uint8_t* iv, const uint8_t* in, uint8_t* out,
                size_t n) {
    byRounds<CbcDecryptOp>(rounds, k, iv, in, out, n);
}
void cbcEncryptChunks(const uint8_t* k, int rounds, const uint8_t* iv, const uint8_t* in,
                      uint8_t* out, size_t chunkBlocks, size_t chunks) {
    byRounds<CbcEncryptChunksOp>(rounds, k, iv, in, out, chunkBlocks, chunks);
}

constexpr Backend kHardware{"aes-ni",   encryptBlocks, decryptBlocks,
                            cbcEncrypt, cbcDecrypt,    cbcEncryptChunks};

}  // namespace

const Backend* hardwareBackend() {
    static const bool available = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("aes") && __builtin_cpu_supports("sse4.1");
    }();
    return available ? &kHardware : nullptr;
}

}  // namespace velmora::aes
