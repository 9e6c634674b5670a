#pragma once

// The AES S-box, its inverse and the four encryption and decryption round tables, computed at
// compile time from the field arithmetic of GF(2^8) with the polynomial x^8 + x^4 + x^3 + x + 1.
// Table words are big-endian column values: the first state byte of a column is the top byte.

#include <array>
#include <bit>
#include <cstdint>

namespace velmora::aes {

inline constexpr int kBlockSize = 16;
inline constexpr int kMaxRounds = 14;
inline constexpr int kMaxRoundKeyBytes = kBlockSize * (kMaxRounds + 1);

constexpr uint8_t xtime(uint8_t x) {
    return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) != 0 ? 0x1b : 0x00));
}

constexpr uint8_t gmul(uint8_t a, uint8_t b) {
    uint8_t product = 0;
    while (b != 0) {
        if ((b & 1) != 0)
            product ^= a;
        a = xtime(a);
        b = static_cast<uint8_t>(b >> 1);
    }
    return product;
}

constexpr uint8_t rotl8(uint8_t x, int shift) {
    return static_cast<uint8_t>((x << shift) | (x >> (8 - shift)));
}

constexpr std::array<uint8_t, 256> makeSbox() {
    std::array<uint8_t, 256> sbox{};
    // p walks through every non-zero element as powers of 3 while q walks through their
    // inverses, so q is the multiplicative inverse of p at each step.
    uint8_t p = 1;
    uint8_t q = 1;
    do {
        p = static_cast<uint8_t>(p ^ xtime(p));
        q = static_cast<uint8_t>(q ^ (q << 1));
        q = static_cast<uint8_t>(q ^ (q << 2));
        q = static_cast<uint8_t>(q ^ (q << 4));
        if ((q & 0x80) != 0)
            q ^= 0x09;
        const uint8_t affine = q ^ rotl8(q, 1) ^ rotl8(q, 2) ^ rotl8(q, 3) ^ rotl8(q, 4);
        sbox[p] = affine ^ 0x63;
    } while (p != 1);
    sbox[0] = 0x63;
    return sbox;
}

constexpr std::array<uint8_t, 256> invert(const std::array<uint8_t, 256>& table) {
    std::array<uint8_t, 256> inverse{};
    for (int i = 0; i < 256; ++i)
        inverse[table[i]] = static_cast<uint8_t>(i);
    return inverse;
}

constexpr uint32_t column(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
    return (uint32_t{b0} << 24) | (uint32_t{b1} << 16) | (uint32_t{b2} << 8) | uint32_t{b3};
}

inline constexpr std::array<uint8_t, 256> kSbox = makeSbox();
inline constexpr std::array<uint8_t, 256> kInvSbox = invert(kSbox);

// Te0[x] is the MixColumns image of a column holding S(x) in its first row; Te1..Te3 are the same
// for the other rows, which are byte rotations of Te0.
constexpr std::array<std::array<uint32_t, 256>, 4> makeEncryptTables() {
    std::array<std::array<uint32_t, 256>, 4> tables{};
    for (int x = 0; x < 256; ++x) {
        const uint8_t s = kSbox[x];
        const uint32_t word = column(gmul(s, 2), s, s, gmul(s, 3));
        for (int row = 0; row < 4; ++row)
            tables[row][x] = std::rotr(word, 8 * row);
    }
    return tables;
}

constexpr std::array<std::array<uint32_t, 256>, 4> makeDecryptTables() {
    std::array<std::array<uint32_t, 256>, 4> tables{};
    for (int x = 0; x < 256; ++x) {
        const uint8_t s = kInvSbox[x];
        const uint32_t word = column(gmul(s, 14), gmul(s, 9), gmul(s, 13), gmul(s, 11));
        for (int row = 0; row < 4; ++row)
            tables[row][x] = std::rotr(word, 8 * row);
    }
    return tables;
}

inline constexpr std::array<std::array<uint32_t, 256>, 4> kTe = makeEncryptTables();
inline constexpr std::array<std::array<uint32_t, 256>, 4> kTd = makeDecryptTables();

static_assert(kSbox[0x00] == 0x63 && kSbox[0x01] == 0x7c && kSbox[0x53] == 0xed &&
              kSbox[0xff] == 0x16);
static_assert(kInvSbox[0x63] == 0x00 && kInvSbox[0x16] == 0xff);

}  // namespace velmora::aes
