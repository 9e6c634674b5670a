#include "core/crypto/JobFileCipher.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/core/crypto/CryptoTestSupport.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora {
namespace {

using test::Bytes;
using test::opensslJobFile;
using test::randomBytes;
using test::readFile;
using test::writeFile;

class JobFileCipherTest : public ::testing::TestWithParam<Rijndael::Engine> {
  protected:
    bool encrypt(const Bytes& plain, Bytes& encrypted) {
        writeFile(dir_ / "page", plain);
        std::string error;
        const bool ok = encryptJobFile(dir_ / "page", dir_ / "page.enc", key_, error, GetParam());
        EXPECT_TRUE(ok) << error;
        if (ok)
            encrypted = readFile(dir_ / "page.enc");
        return ok;
    }

    // Decrypts `encrypted`; on failure the error text is returned in `error`.
    bool decrypt(const Bytes& encrypted, Bytes& plain, std::string& error,
                 std::span<const uint8_t> key = {}) {
        writeFile(dir_ / "in.enc", encrypted);
        const bool ok = decryptJobFile(dir_ / "in.enc", dir_ / "out", key.empty() ? key_ : key,
                                       error, GetParam());
        if (ok)
            plain = readFile(dir_ / "out");
        return ok;
    }

    enum class Found { beforeOutput, whileDecrypting };

    // Damage found from the length and pad count leaves whatever was at the output path alone;
    // damage found while decrypting removes the partly written output.
    void expectRejected(const Bytes& encrypted, Found when, const std::string& reason) {
        const Bytes previous{1, 2, 3};
        writeFile(dir_ / "out", previous);
        Bytes plain;
        std::string error;
        EXPECT_FALSE(decrypt(encrypted, plain, error)) << reason;
        EXPECT_FALSE(error.empty()) << reason;
        if (when == Found::beforeOutput) {
            EXPECT_EQ(readFile(dir_ / "out"), previous) << reason;
        } else {
            EXPECT_FALSE(std::filesystem::exists(dir_ / "out")) << reason;
        }
    }

    test::ScratchDirectory dir_{"velmora-crypto"};
    Bytes key_ = randomBytes(32, 99);
};

// Sizes from the layout's edge cases, plus the full-size last chunk that holds a whole padding
// block (16368 = 16384 - 16) and sizes that cross the reading buffer's boundaries.
TEST_P(JobFileCipherTest, EncryptedLayoutMatchesOpenSslAndDecryptsBack) {
    struct Case {
        size_t plain;
        size_t encrypted;
    };
    const Case cases[] = {
        {0, 1},
        {15, 1 + 16},
        {16, 1 + 32},
        {16380, 1 + 16384},
        {16384, 1 + 16384},
        {40000, 1 + 16384 + 16384 + 7248},
        {16368, 1 + 16384},
        {16383, 1 + 16384},
        {32768, 1 + 32768},
        {262144 - 16, 1 + 262144},
        {262144 + 3, 1 + 262144 + 16},
        {3 * 262144 + 16384 + 16368, 1 + 3 * 262144 + 2 * 16384},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "plain size " << c.plain);
        const Bytes plain = randomBytes(c.plain, static_cast<uint32_t>(c.plain));
        Bytes encrypted;
        ASSERT_TRUE(encrypt(plain, encrypted));
        EXPECT_EQ(encrypted.size(), c.encrypted);
        EXPECT_EQ(encrypted, opensslJobFile(plain, key_));
        Bytes decrypted;
        std::string error;
        ASSERT_TRUE(decrypt(encrypted, decrypted, error)) << error;
        EXPECT_EQ(decrypted, plain);
    }
}

TEST_P(JobFileCipherTest, EmptyFileIsTheSingleByte16) {
    Bytes encrypted;
    ASSERT_TRUE(encrypt({}, encrypted));
    EXPECT_EQ(encrypted, Bytes{16});
    EXPECT_EQ(readFile(dir_ / "page").size(), 0u);
}

TEST_P(JobFileCipherTest, IdenticalChunksGiveIdenticalCipherText) {
    Bytes plain = randomBytes(kJobFileChunkSize, 5);
    plain.insert(plain.end(), plain.begin(), plain.end());
    plain.push_back(42);
    Bytes encrypted;
    ASSERT_TRUE(encrypt(plain, encrypted));
    ASSERT_EQ(encrypted.size(), 1 + 2 * kJobFileChunkSize + 16);
    EXPECT_EQ(encrypted[0], 15);
    const auto first = encrypted.begin() + 1;
    const auto second = first + kJobFileChunkSize;
    EXPECT_TRUE(std::equal(first, second, second));
}

TEST_P(JobFileCipherTest, DecryptsFilesMadeByOpenSsl) {
    for (const size_t size : {1u, 16u, 1000u, 16384u, 16385u, 50000u}) {
        const Bytes plain = randomBytes(size, 7 + static_cast<uint32_t>(size));
        Bytes decrypted;
        std::string error;
        ASSERT_TRUE(decrypt(opensslJobFile(plain, key_), decrypted, error)) << error;
        EXPECT_EQ(decrypted, plain) << size;
    }
}

TEST_P(JobFileCipherTest, KeysLongerThan32BytesUseTheirFirst32) {
    const Bytes plain = randomBytes(100, 8);
    Bytes longKey = key_;
    longKey.insert(longKey.end(), {9, 9, 9, 9});
    writeFile(dir_ / "page", plain);
    std::string error;
    ASSERT_TRUE(encryptJobFile(dir_ / "page", dir_ / "page.enc", longKey, error, GetParam()));
    EXPECT_EQ(readFile(dir_ / "page.enc"), opensslJobFile(plain, key_));
}

TEST_P(JobFileCipherTest, ShortKeysAreRefusedWithoutOutput) {
    writeFile(dir_ / "page", randomBytes(100, 9));
    const Bytes shortKey(key_.begin(), key_.begin() + 31);
    std::string error;
    EXPECT_FALSE(encryptJobFile(dir_ / "page", dir_ / "page.enc", shortKey, error, GetParam()));
    EXPECT_NE(error.find("31 bytes"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(dir_ / "page.enc"));

    Bytes encrypted;
    ASSERT_TRUE(encrypt(randomBytes(100, 9), encrypted));
    Bytes plain;
    error.clear();
    EXPECT_FALSE(decrypt(encrypted, plain, error, shortKey));
    EXPECT_FALSE(error.empty());
    writeFile(dir_ / "in.enc", encrypted);
    EXPECT_FALSE(decryptJobFile(dir_ / "in.enc", dir_ / "out", {}, error, GetParam()));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out"));
}

TEST_P(JobFileCipherTest, DamagedFilesAreRejected) {
    Bytes good;
    // Zero bytes and 40 of them: the pad count is 8 and a wrongly placed end shows as zeros
    // where the padding should be.
    ASSERT_TRUE(encrypt(Bytes(40, 0), good));
    ASSERT_EQ(good[0], 8);

    expectRejected({}, Found::beforeOutput, "no pad count");
    for (const uint8_t pad : {0, 17, 255}) {
        Bytes bad = good;
        bad[0] = pad;
        expectRejected(bad, Found::beforeOutput, "pad count " + std::to_string(pad));
    }
    expectRejected(Bytes{5}, Found::beforeOutput, "empty body with a pad count other than 16");
    expectRejected(Bytes(good.begin(), good.end() - 1), Found::beforeOutput, "cut inside a block");
    expectRejected(Bytes(good.begin(), good.end() - 16), Found::whileDecrypting,
                   "a whole block missing");
    Bytes flipped = good;
    flipped.back() ^= 0x01;
    expectRejected(flipped, Found::whileDecrypting, "damaged last block");

    const Bytes otherKey = randomBytes(32, 1234);
    writeFile(dir_ / "in.enc", good);
    Bytes plain;
    std::string error;
    EXPECT_FALSE(decryptJobFile(dir_ / "in.enc", dir_ / "out", otherKey, error, GetParam()));
    EXPECT_NE(error.find("padding"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out"));
}

TEST_P(JobFileCipherTest, DamagedMultiChunkFileIsRejected) {
    Bytes good;
    ASSERT_TRUE(encrypt(Bytes(2 * kJobFileChunkSize + 100, 0), good));
    expectRejected(Bytes(good.begin(), good.end() - 7), Found::beforeOutput, "cut inside a block");
    expectRejected(Bytes(good.begin(), good.end() - 16), Found::whileDecrypting,
                   "last block missing");
}

TEST_P(JobFileCipherTest, MissingInputAndSameFileFailWithoutLosingData) {
    std::string error;
    EXPECT_FALSE(encryptJobFile(dir_ / "absent", dir_ / "absent.enc", key_, error, GetParam()));
    EXPECT_NE(error.find("absent"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(dir_ / "absent.enc"));

    const Bytes plain = randomBytes(5000, 11);
    writeFile(dir_ / "page", plain);
    std::filesystem::create_hard_link(dir_ / "page", dir_ / "alias");
    EXPECT_FALSE(encryptJobFile(dir_ / "page", dir_ / "alias", key_, error, GetParam()));
    EXPECT_EQ(readFile(dir_ / "page"), plain);

    const Bytes encrypted = opensslJobFile(plain, key_);
    writeFile(dir_ / "page.enc", encrypted);
    EXPECT_FALSE(decryptJobFile(dir_ / "page.enc", dir_ / "page.enc", key_, error, GetParam()));
    EXPECT_EQ(readFile(dir_ / "page.enc"), encrypted);

    std::filesystem::create_directory(dir_ / "folder");
    EXPECT_FALSE(decryptJobFile(dir_ / "folder", dir_ / "out", key_, error, GetParam()));
}

TEST_P(JobFileCipherTest, ExistingOutputIsReplaced) {
    const Bytes plain = randomBytes(300, 12);
    writeFile(dir_ / "page.enc", randomBytes(100000, 13));
    Bytes encrypted;
    ASSERT_TRUE(encrypt(plain, encrypted));
    EXPECT_EQ(encrypted, opensslJobFile(plain, key_));
}

TEST_P(JobFileCipherTest, NewFilesAreReadableByTheOwnerOnly) {
    Bytes encrypted;
    ASSERT_TRUE(encrypt(randomBytes(300, 14), encrypted));
    std::string error;
    ASSERT_TRUE(decryptJobFile(dir_ / "page.enc", dir_ / "plain", key_, error, GetParam()));
    using std::filesystem::perms;
    for (const char* name : {"page.enc", "plain"}) {
        EXPECT_EQ(std::filesystem::status(dir_ / name).permissions() & perms::all,
                  perms::owner_read | perms::owner_write)
            << name;
    }

    // Files that were already there, readable by everybody, are narrowed as they are replaced.
    for (const char* name : {"page.enc", "plain"})
        std::filesystem::permissions(dir_ / name, perms::all & ~perms::others_write);
    ASSERT_TRUE(encrypt(randomBytes(300, 15), encrypted));
    ASSERT_TRUE(decryptJobFile(dir_ / "page.enc", dir_ / "plain", key_, error, GetParam()));
    for (const char* name : {"page.enc", "plain"}) {
        EXPECT_EQ(std::filesystem::status(dir_ / name).permissions() & perms::all,
                  perms::owner_read | perms::owner_write)
            << "replaced " << name;
    }
}

TEST_P(JobFileCipherTest, LinksPlantedAtEitherNameAreRefusedNotFollowed) {
    namespace fs = std::filesystem;
    const Bytes victim = randomBytes(700, 16);
    writeFile(dir_ / "victim", victim);
    const Bytes plain = randomBytes(300, 17);
    writeFile(dir_ / "page", plain);
    const Bytes encrypted = opensslJobFile(plain, key_);
    writeFile(dir_ / "page.enc", encrypted);

    // A link to a file someone wants overwritten, and a dangling one to a file they want made.
    for (const fs::path& target : {dir_ / "victim", dir_ / "made-through-link"}) {
        for (bool decrypting : {true, false}) {
            const fs::path output = dir_ / "planted";
            fs::remove(output);
            fs::create_symlink(target, output);
            std::string error;
            const bool ok = decrypting
                                ? decryptJobFile(dir_ / "page.enc", output, key_, error, GetParam())
                                : encryptJobFile(dir_ / "page", output, key_, error, GetParam());
            const std::string label =
                (decrypting ? "decrypt to " : "encrypt to ") + target.string();
            EXPECT_FALSE(ok) << label;
            EXPECT_TRUE(fs::is_symlink(output)) << label;
            EXPECT_EQ(readFile(dir_ / "victim"), victim) << label;
            EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "made-through-link"))) << label;
        }
    }

    // An input that is a link is not read through either.
    fs::create_symlink(dir_ / "page.enc", dir_ / "linked.enc");
    std::string error;
    EXPECT_FALSE(decryptJobFile(dir_ / "linked.enc", dir_ / "plain", key_, error, GetParam()));
    EXPECT_FALSE(fs::exists(dir_ / "plain"));
}

INSTANTIATE_TEST_SUITE_P(Engines, JobFileCipherTest,
                         ::testing::Values(Rijndael::Engine::automatic, Rijndael::Engine::portable),
                         test::engineName);

}  // namespace
}  // namespace velmora
