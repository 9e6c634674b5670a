#include "core/crypto/Rijndael.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>

#include "tests/core/crypto/CryptoTestSupport.h"

namespace velmora {
namespace {

using test::Bytes;
using test::fromHex;
using test::opensslAes;
using test::opensslCrypt;
using test::randomBytes;

constexpr std::array<int, 3> kKeyLens = {Rijndael::kKeyLen128, Rijndael::kKeyLen192,
                                         Rijndael::kKeyLen256};

size_t keyBytes(int keyLen) {
    return 16 + 8 * static_cast<size_t>(keyLen);
}

std::array<uint8_t, 16> toIv(const Bytes& bytes) {
    std::array<uint8_t, 16> iv{};
    std::copy_n(bytes.begin(), 16, iv.begin());
    return iv;
}

// Every case runs on both engines: the automatic choice (the processor's AES instructions where
// present) and the portable tables.
class RijndaelTest : public ::testing::TestWithParam<Rijndael::Engine> {
  protected:
    Rijndael keyed(int mode, int dir, const Bytes& key, int keyLen, const Bytes& iv = {}) const {
        Rijndael cipher(GetParam());
        const auto vector = iv.empty() ? std::nullopt : std::optional(toIv(iv));
        EXPECT_EQ(cipher.initMode(mode, dir, key, keyLen, vector), 0);
        return cipher;
    }
};

struct KnownAnswer {
    int keyLen;
    const char* key;
    const char* cipherText;
};

// FIPS 197 appendix C: the plain text 00112233...ff under keys 000102...
TEST_P(RijndaelTest, Fips197AppendixCVectors) {
    const KnownAnswer vectors[] = {
        {Rijndael::kKeyLen128, "000102030405060708090a0b0c0d0e0f",
         "69c4e0d86a7b0430d8cdb78070b4c55a"},
        {Rijndael::kKeyLen192, "000102030405060708090a0b0c0d0e0f1011121314151617",
         "dda97ca4864cdfe06eaf70a0ec0d7191"},
        {Rijndael::kKeyLen256, "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
         "8ea2b7ca516745bfeafc49904b496089"},
    };
    const Bytes plain = fromHex("00112233445566778899aabbccddeeff");
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.key);
        const Bytes expected = fromHex(v.cipherText);
        for (const int dir : {Rijndael::kDirEncrypt, Rijndael::kDirDecrypt}) {
            Rijndael cipher = keyed(Rijndael::kModeEcb, dir, fromHex(v.key), v.keyLen);
            std::array<uint8_t, 16> out{};
            ASSERT_TRUE(cipher.encryptA(std::span<const uint8_t, 16>(plain.data(), 16), out));
            EXPECT_EQ(Bytes(out.begin(), out.end()), expected);
            ASSERT_TRUE(cipher.decryptA(std::span<const uint8_t, 16>(expected.data(), 16), out));
            EXPECT_EQ(Bytes(out.begin(), out.end()), plain);
        }
    }
}

// The processor's features as the kernel lists them on an x86 "flags" line, read without the
// code under test (which asks the processor itself).
std::set<std::string> x86CpuFlags() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line)) {
        if (line.starts_with("flags") && line.find(':') != std::string::npos) {
            std::istringstream words(line.substr(line.find(':') + 1));
            return {std::istream_iterator<std::string>(words), {}};
        }
    }
    return {};
}

TEST_P(RijndaelTest, ReportsTheEngineInUse) {
    const std::set<std::string> flags = x86CpuFlags();
    const bool processorHasAes = flags.count("aes") == 1 && flags.count("sse4_1") == 1;
    const Rijndael cipher(GetParam());
    const bool hardware = GetParam() == Rijndael::Engine::automatic && processorHasAes;
    EXPECT_STREQ(cipher.engineName(), hardware ? "aes-ni" : "portable");
}

TEST_P(RijndaelTest, InitModeRejectsBadArgumentsAndStaysUnkeyed) {
    const Bytes key = randomBytes(32, 1);
    Rijndael cipher(GetParam());
    EXPECT_FALSE(cipher.isKeyed());
    EXPECT_EQ(cipher.initMode(3, Rijndael::kDirEncrypt, key, Rijndael::kKeyLen256),
              Rijndael::kBadCipherMode);
    EXPECT_EQ(cipher.initMode(Rijndael::kModeCbc, 2, key, Rijndael::kKeyLen256),
              Rijndael::kBadKeyDirection);
    EXPECT_EQ(cipher.initMode(Rijndael::kModeCbc, Rijndael::kDirEncrypt, key, 3),
              Rijndael::kBadKeyLength);
    EXPECT_EQ(cipher.initMode(Rijndael::kModeCbc, Rijndael::kDirEncrypt, std::span(key).first(31),
                              Rijndael::kKeyLen256),
              Rijndael::kBadKeyMaterial);
    EXPECT_EQ(cipher.initMode(Rijndael::kModeCbc, Rijndael::kDirEncrypt, {}, Rijndael::kKeyLen128),
              Rijndael::kBadKeyMaterial);
    EXPECT_FALSE(cipher.isKeyed());

    const Bytes plain(20, 7);
    Bytes out(64);
    EXPECT_EQ(cipher.padEncryptInput(plain, out), Rijndael::kNotKeyed);
    EXPECT_EQ(cipher.blockDecryptInput(plain, out), Rijndael::kNotKeyed);
    EXPECT_EQ(cipher.blockEncryptChunks(plain, 16, out), Rijndael::kNotKeyed);
    std::array<uint8_t, 16> block{};
    EXPECT_FALSE(cipher.encryptA(block, block));
    EXPECT_FALSE(cipher.decryptA(block, block));

    // A failed call after a good one leaves the cipher unkeyed, not half keyed.
    ASSERT_EQ(cipher.initMode(Rijndael::kModeCbc, Rijndael::kDirEncrypt, key, Rijndael::kKeyLen256),
              0);
    EXPECT_TRUE(cipher.isKeyed());
    EXPECT_EQ(cipher.rounds(), 14);
    EXPECT_EQ(cipher.initMode(Rijndael::kModeCbc, 5, key, Rijndael::kKeyLen256),
              Rijndael::kBadKeyDirection);
    EXPECT_FALSE(cipher.isKeyed());
}

TEST_P(RijndaelTest, OperationsCheckDirectionModeAndRoom) {
    const Bytes key = randomBytes(32, 2);
    const Bytes data = randomBytes(48, 3);
    Bytes out(64);

    const Rijndael decrypting = keyed(Rijndael::kModeCbc, Rijndael::kDirDecrypt, key, 2);
    EXPECT_EQ(decrypting.padEncryptInput(data, out), Rijndael::kNotKeyed);
    EXPECT_EQ(decrypting.blockEncryptChunks(data, 16, out), Rijndael::kNotKeyed);
    EXPECT_EQ(decrypting.blockDecryptInput(data, std::span(out).first(47)),
              Rijndael::kBufferTooSmall);
    EXPECT_EQ(decrypting.blockDecryptInput({}, out), 0);

    const Rijndael encrypting = keyed(Rijndael::kModeCbc, Rijndael::kDirEncrypt, key, 2);
    EXPECT_EQ(encrypting.blockDecryptInput(data, out), Rijndael::kNotKeyedForDecrypt);
    EXPECT_EQ(encrypting.padEncryptInput({}, out), 0);
    EXPECT_EQ(encrypting.padEncryptInput(data, std::span(out).first(63)),
              Rijndael::kBufferTooSmall);
    EXPECT_EQ(encrypting.blockEncryptChunks(data, 24, out), Rijndael::kBadChunkSize);
    EXPECT_EQ(encrypting.blockEncryptChunks(data, 0, out), Rijndael::kBadChunkSize);

    const Rijndael cfb = keyed(Rijndael::kModeCfb1, Rijndael::kDirEncrypt, key, 2);
    EXPECT_EQ(cfb.padEncryptInput(data, out), Rijndael::kBadCipherMode);
    // Empty input is answered before the mode, as blockDecryptInput does.
    EXPECT_EQ(cfb.padEncryptInput({}, out), 0);
    EXPECT_EQ(cfb.blockDecryptInput(data, out), 48 * 8);
}

// Lengths around the eight-block groups of the hardware engine, with and without a remainder.
const size_t kLengths[] = {1, 15, 16, 17, 127, 128, 129, 143, 1000, 16384};

TEST_P(RijndaelTest, PadEncryptInputMatchesOpenSslWithPkcs7Padding) {
    for (const int keyLen : kKeyLens) {
        const Bytes key = randomBytes(keyBytes(keyLen), 10 + keyLen);
        const Bytes iv = randomBytes(16, 20);
        for (const size_t length : kLengths) {
            SCOPED_TRACE(testing::Message() << "key " << keyBytes(keyLen) << " length " << length);
            const Bytes plain = randomBytes(length, static_cast<uint32_t>(length));
            for (const char* modeName : {"cbc", "ecb"}) {
                const bool cbc = std::string(modeName) == "cbc";
                const Rijndael cipher = keyed(cbc ? Rijndael::kModeCbc : Rijndael::kModeEcb,
                                              Rijndael::kDirEncrypt, key, keyLen, iv);
                Bytes out(length + 16);
                const int64_t written = cipher.padEncryptInput(plain, out);
                ASSERT_EQ(written, static_cast<int64_t>(length / 16 * 16 + 16));
                out.resize(static_cast<size_t>(written));
                EXPECT_EQ(out, opensslCrypt(opensslAes(key.size(), modeName), true, key,
                                            cbc ? iv : Bytes{}, plain, true));
            }
        }
    }
}

TEST_P(RijndaelTest, BlockDecryptInputMatchesOpenSsl) {
    for (const int keyLen : kKeyLens) {
        const Bytes key = randomBytes(keyBytes(keyLen), 30 + keyLen);
        const Bytes iv = randomBytes(16, 40);
        for (const size_t length : kLengths) {
            SCOPED_TRACE(testing::Message() << "key " << keyBytes(keyLen) << " length " << length);
            const Bytes cipherText = randomBytes(length, static_cast<uint32_t>(length) + 1);
            const size_t whole = length / 16 * 16;
            for (const char* modeName : {"cbc", "ecb", "cfb1"}) {
                if (std::string(modeName) == "cfb1" && length > 1000)
                    continue;  // bit-serial
                const int mode = std::string(modeName) == "cbc"   ? Rijndael::kModeCbc
                                 : std::string(modeName) == "ecb" ? Rijndael::kModeEcb
                                                                  : Rijndael::kModeCfb1;
                const Rijndael cipher = keyed(mode, Rijndael::kDirDecrypt, key, keyLen, iv);
                Bytes out(length);
                // A trailing partial block is left alone.
                ASSERT_EQ(cipher.blockDecryptInput(cipherText, out),
                          static_cast<int64_t>(whole * 8));
                out.resize(whole);
                const Bytes expected = opensslCrypt(opensslAes(key.size(), modeName), false, key,
                                                    mode == Rijndael::kModeEcb ? Bytes{} : iv,
                                                    std::span(cipherText).first(whole), false);
                EXPECT_EQ(out, expected) << modeName;
            }
        }
    }
}

TEST_P(RijndaelTest, CbcCallsRestartFromTheStoredVectorAndWorkInPlace) {
    const Bytes key = randomBytes(32, 50);
    const Bytes iv = randomBytes(16, 51);
    const Bytes plain = randomBytes(16 * 37 + 5, 52);
    const Rijndael encryptor = keyed(Rijndael::kModeCbc, Rijndael::kDirEncrypt, key, 2, iv);
    const size_t padded = plain.size() / 16 * 16 + 16;
    Bytes first(padded);
    Bytes second(padded);
    ASSERT_EQ(encryptor.padEncryptInput(plain, first), static_cast<int64_t>(padded));
    ASSERT_EQ(encryptor.padEncryptInput(plain, second), static_cast<int64_t>(padded));
    EXPECT_EQ(first, second);

    Bytes inPlace = plain;
    inPlace.resize(padded);
    ASSERT_GT(encryptor.padEncryptInput(std::span(inPlace).first(plain.size()), inPlace), 0);
    EXPECT_EQ(inPlace, first);

    const Rijndael decryptor = keyed(Rijndael::kModeCbc, Rijndael::kDirDecrypt, key, 2, iv);
    for (int round = 0; round < 2; ++round) {
        Bytes buffer = first;
        ASSERT_EQ(decryptor.blockDecryptInput(buffer, buffer),
                  static_cast<int64_t>(buffer.size() * 8));
        buffer.resize(plain.size());
        EXPECT_EQ(buffer, plain);
    }
}

TEST_P(RijndaelTest, BlockEncryptChunksRestartsEveryChunk) {
    const Bytes key = randomBytes(32, 60);
    const Bytes iv = randomBytes(16, 61);
    const size_t chunk = 64;
    // Eleven whole chunks (one group of eight and three more) and a shorter last piece.
    const Bytes plain = randomBytes(chunk * 11 + 48 + 7, 62);
    const Rijndael cipher = keyed(Rijndael::kModeCbc, Rijndael::kDirEncrypt, key, 2, iv);

    Bytes expected;
    for (size_t offset = 0; offset + 16 <= plain.size(); offset += chunk) {
        const size_t length = std::min(chunk, (plain.size() - offset) / 16 * 16);
        const Bytes part = opensslCrypt(EVP_aes_256_cbc(), true, key, iv,
                                        std::span(plain).subspan(offset, length), false);
        expected.insert(expected.end(), part.begin(), part.end());
    }
    Bytes out(plain.size());
    ASSERT_EQ(cipher.blockEncryptChunks(plain, chunk, out), static_cast<int64_t>(expected.size()));
    out.resize(expected.size());
    EXPECT_EQ(out, expected);

    Bytes inPlace = plain;
    ASSERT_GT(cipher.blockEncryptChunks(inPlace, chunk, inPlace), 0);
    inPlace.resize(expected.size());
    EXPECT_EQ(inPlace, expected);
}

TEST_P(RijndaelTest, KeySchedAndKeyEncToDecRekeyTheCipher) {
    const Bytes firstKey = randomBytes(32, 70);
    const Bytes secondKey = randomBytes(16, 71);
    Rijndael cipher = keyed(Rijndael::kModeEcb, Rijndael::kDirDecrypt, firstKey, 2);
    EXPECT_EQ(cipher.keySched(std::span(secondKey).first(15)), Rijndael::kBadKeyLength);
    ASSERT_EQ(cipher.keySched(secondKey), 0);
    EXPECT_EQ(cipher.rounds(), 10);
    const Bytes block = randomBytes(16, 72);
    Bytes out(16);
    // Until the inverse schedule is derived again, decryption refuses to use the old one.
    EXPECT_EQ(cipher.blockDecryptInput(block, out), Rijndael::kNotKeyed);
    cipher.keyEncToDec();
    ASSERT_EQ(cipher.blockDecryptInput(block, out), 128);
    EXPECT_EQ(out, opensslCrypt(EVP_aes_128_ecb(), false, secondKey, {}, block, false));
}

INSTANTIATE_TEST_SUITE_P(Engines, RijndaelTest,
                         ::testing::Values(Rijndael::Engine::automatic, Rijndael::Engine::portable),
                         test::engineName);

}  // namespace
}  // namespace velmora
