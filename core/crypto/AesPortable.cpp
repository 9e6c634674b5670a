// Table-driven AES (FIPS 197, with the usual four 256-entry round tables per direction). It is the
// fallback for processors without AES instructions; table lookups depend on key and data, so it
// is not hardened against cache-timing observers on the same machine.

#include <cstring>

#include "core/crypto/AesBackend.h"
#include "core/crypto/AesTables.h"

namespace velmora::aes {
namespace {

inline uint32_t load32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

inline void store32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

inline uint8_t byteOf(uint32_t word, int row) {
    return static_cast<uint8_t>(word >> (24 - 8 * row));
}

inline uint32_t encryptColumn(uint32_t a, uint32_t b, uint32_t c, uint32_t d, const uint8_t* rk) {
    return kTe[0][byteOf(a, 0)] ^ kTe[1][byteOf(b, 1)] ^ kTe[2][byteOf(c, 2)] ^
           kTe[3][byteOf(d, 3)] ^ load32(rk);
}

inline uint32_t decryptColumn(uint32_t a, uint32_t b, uint32_t c, uint32_t d, const uint8_t* rk) {
    return kTd[0][byteOf(a, 0)] ^ kTd[1][byteOf(b, 1)] ^ kTd[2][byteOf(c, 2)] ^
           kTd[3][byteOf(d, 3)] ^ load32(rk);
}

inline uint32_t finalColumn(const std::array<uint8_t, 256>& box, uint32_t a, uint32_t b, uint32_t c,
                            uint32_t d, const uint8_t* rk) {
    return column(box[byteOf(a, 0)], box[byteOf(b, 1)], box[byteOf(c, 2)], box[byteOf(d, 3)]) ^
           load32(rk);
}

void encryptBlock(const uint8_t* rk, int rounds, const uint8_t* in, uint8_t* out) {
    uint32_t s0 = load32(in) ^ load32(rk);
    uint32_t s1 = load32(in + 4) ^ load32(rk + 4);
    uint32_t s2 = load32(in + 8) ^ load32(rk + 8);
    uint32_t s3 = load32(in + 12) ^ load32(rk + 12);
    for (int round = 1; round < rounds; ++round) {
        rk += kBlockSize;
        const uint32_t t0 = encryptColumn(s0, s1, s2, s3, rk);
        const uint32_t t1 = encryptColumn(s1, s2, s3, s0, rk + 4);
        const uint32_t t2 = encryptColumn(s2, s3, s0, s1, rk + 8);
        const uint32_t t3 = encryptColumn(s3, s0, s1, s2, rk + 12);
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += kBlockSize;
    store32(out, finalColumn(kSbox, s0, s1, s2, s3, rk));
    store32(out + 4, finalColumn(kSbox, s1, s2, s3, s0, rk + 4));
    store32(out + 8, finalColumn(kSbox, s2, s3, s0, s1, rk + 8));
    store32(out + 12, finalColumn(kSbox, s3, s0, s1, s2, rk + 12));
}

void decryptBlock(const uint8_t* rk, int rounds, const uint8_t* in, uint8_t* out) {
    uint32_t s0 = load32(in) ^ load32(rk);
    uint32_t s1 = load32(in + 4) ^ load32(rk + 4);
    uint32_t s2 = load32(in + 8) ^ load32(rk + 8);
    uint32_t s3 = load32(in + 12) ^ load32(rk + 12);
    for (int round = 1; round < rounds; ++round) {
        rk += kBlockSize;
        const uint32_t t0 = decryptColumn(s0, s3, s2, s1, rk);
        const uint32_t t1 = decryptColumn(s1, s0, s3, s2, rk + 4);
        const uint32_t t2 = decryptColumn(s2, s1, s0, s3, rk + 8);
        const uint32_t t3 = decryptColumn(s3, s2, s1, s0, rk + 12);
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += kBlockSize;
    store32(out, finalColumn(kInvSbox, s0, s3, s2, s1, rk));
    store32(out + 4, finalColumn(kInvSbox, s1, s0, s3, s2, rk + 4));
    store32(out + 8, finalColumn(kInvSbox, s2, s1, s0, s3, rk + 8));
    store32(out + 12, finalColumn(kInvSbox, s3, s2, s1, s0, rk + 12));
}

inline void xorBlock(uint8_t* dst, const uint8_t* a, const uint8_t* b) {
    for (int i = 0; i < kBlockSize; ++i)
        dst[i] = a[i] ^ b[i];
}

void encryptBlocks(const uint8_t* rk, int rounds, const uint8_t* in, uint8_t* out, size_t blocks) {
    for (size_t i = 0; i < blocks; ++i)
        encryptBlock(rk, rounds, in + i * 16, out + i * 16);
}

void decryptBlocks(const uint8_t* rk, int rounds, const uint8_t* in, uint8_t* out, size_t blocks) {
    for (size_t i = 0; i < blocks; ++i)
        decryptBlock(rk, rounds, in + i * 16, out + i * 16);
}

void cbcEncrypt(const uint8_t* rk, int rounds, const uint8_t* iv, const uint8_t* in, uint8_t* out,
                size_t blocks) {
    uint8_t chain[kBlockSize];
    std::memcpy(chain, iv, kBlockSize);
    for (size_t i = 0; i < blocks; ++i) {
        xorBlock(chain, chain, in + i * 16);
        encryptBlock(rk, rounds, chain, chain);
        std::memcpy(out + i * 16, chain, kBlockSize);
    }
}

void cbcDecrypt(const uint8_t* rk, int rounds, const uint8_t* iv, const uint8_t* in, uint8_t* out,
                size_t blocks) {
    uint8_t previous[kBlockSize];
    uint8_t cipherText[kBlockSize];
    uint8_t plain[kBlockSize];
    std::memcpy(previous, iv, kBlockSize);
    for (size_t i = 0; i < blocks; ++i) {
        std::memcpy(cipherText, in + i * 16, kBlockSize);
        decryptBlock(rk, rounds, cipherText, plain);
        xorBlock(out + i * 16, plain, previous);
        std::memcpy(previous, cipherText, kBlockSize);
    }
}

void cbcEncryptChunks(const uint8_t* rk, int rounds, const uint8_t* iv, const uint8_t* in,
                      uint8_t* out, size_t chunkBlocks, size_t chunks) {
    const size_t chunkBytes = chunkBlocks * kBlockSize;
    for (size_t c = 0; c < chunks; ++c) {
        cbcEncrypt(rk, rounds, iv, in + c * chunkBytes, out + c * chunkBytes, chunkBlocks);
    }
}

constexpr Backend kPortable{"portable", encryptBlocks, decryptBlocks,
                            cbcEncrypt, cbcDecrypt,    cbcEncryptChunks};

}  // namespace

const Backend& portableBackend() {
    return kPortable;
}

}  // namespace velmora::aes
