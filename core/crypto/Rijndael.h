#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace velmora {

namespace aes {
struct Backend;
}

// One keyed AES cipher (FIPS 197; 128-, 192- and 256-bit keys) in ECB, CBC or 1-bit CFB mode.
//
// Multi-block operations in CBC and CFB mode start every call from the stored initialisation
// vector and leave it unchanged, so consecutive calls encrypt or decrypt independent pieces.
// Every operation accepts out == in (in place); other overlaps are not allowed.
class Rijndael {
  public:
    static constexpr int kBlockSize = 16;

    // Modes, directions and key length codes of initMode().
    static constexpr int kModeEcb = 0;
    static constexpr int kModeCbc = 1;
    static constexpr int kModeCfb1 = 2;
    static constexpr int kDirEncrypt = 0;
    static constexpr int kDirDecrypt = 1;
    static constexpr int kKeyLen128 = 0;
    static constexpr int kKeyLen192 = 1;
    static constexpr int kKeyLen256 = 2;

    // Results below zero.
    static constexpr int kBadCipherMode = -1;
    static constexpr int kBadKeyDirection = -2;
    static constexpr int kBadKeyLength = -3;
    static constexpr int kBadKeyMaterial = -4;
    static constexpr int kNotKeyed = -5;  // or, for padEncryptInput, keyed for decryption
    static constexpr int kNotKeyedForDecrypt = -6;
    static constexpr int kBufferTooSmall = -7;  // output span shorter than the result
    static constexpr int kBadChunkSize = -8;

    // Which block cipher engine does the work.
    enum class Engine {
        automatic,  // the processor's AES instructions when present, else the portable tables
        portable,   // always the portable tables (for testing the fallback on any machine)
    };

    explicit Rijndael(Engine engine = Engine::automatic);
    ~Rijndael();
    Rijndael(const Rijndael&) = default;
    Rijndael& operator=(const Rijndael&) = default;

    // True when this processor has AES instructions that Engine::automatic will use.
    static bool hardwareAvailable();
    // "aes-ni" or "portable".
    const char* engineName() const;

    // Keys the cipher. `key` must hold at least the bytes that keyLen asks for (16, 24, 32);
    // further bytes are ignored. Without an initialisation vector it is all zero.
    // Returns 0, or kBadCipherMode, kBadKeyDirection, kBadKeyLength, kBadKeyMaterial.
    int initMode(int mode, int dir, std::span<const uint8_t> key, int keyLen,
                 std::optional<std::array<uint8_t, kBlockSize>> initVector = std::nullopt);

    // Encrypts `input` with PKCS #7 padding (1 to 16 bytes) in ECB or CBC mode. Writes and
    // returns input.size() rounded down to a multiple of 16, plus 16; returns 0 for empty input.
    // Fails with kNotKeyed (also when keyed for decryption), kBadCipherMode or kBufferTooSmall.
    int64_t padEncryptInput(std::span<const uint8_t> input, std::span<uint8_t> outBuffer) const;

    // Decrypts the whole blocks of `input` (a trailing partial block is ignored) and returns the
    // number of bits processed; 0 for empty input. Fails with kNotKeyed, kNotKeyedForDecrypt
    // (keyed for encryption, except in CFB mode, which always runs the forward cipher),
    // kBadCipherMode or kBufferTooSmall.
    int64_t blockDecryptInput(std::span<const uint8_t> input, std::span<uint8_t> outBuffer) const;

    // Encrypts the whole blocks of `input` without padding, restarting the CBC chain from the
    // initialisation vector at every `chunkBytes` (a non-zero multiple of 16); the last piece may
    // be shorter. Independent pieces are encrypted side by side where the engine can. Returns the
    // number of bytes written, or kNotKeyed (also when keyed for decryption), kBadCipherMode
    // (CFB), kBadChunkSize or kBufferTooSmall.
    int64_t blockEncryptChunks(std::span<const uint8_t> input, size_t chunkBytes,
                               std::span<uint8_t> outBuffer) const;

    // FIPS 197 key expansion of a 16-, 24- or 32-byte key; returns 0 or kBadKeyLength.
    int keySched(std::span<const uint8_t> key);
    // Derives the round keys of the equivalent inverse cipher from the expanded key.
    void keyEncToDec();

    // One block through the cipher or the inverse cipher; false when there are no round keys.
    bool encryptA(std::span<const uint8_t, kBlockSize> a, std::span<uint8_t, kBlockSize> b) const;
    bool decryptA(std::span<const uint8_t, kBlockSize> a, std::span<uint8_t, kBlockSize> b) const;

    bool isKeyed() const { return notKeyed_ == 0; }
    int mode() const { return mode_; }
    int direction() const { return direction_; }
    int rounds() const { return rounds_; }

  private:
    static constexpr size_t kRoundKeyBytes = kBlockSize * 15;

    void wipe();
    void cfb1Decrypt(const uint8_t* in, uint8_t* out, size_t blocks) const;

    const aes::Backend* backend_;
    int32_t notKeyed_ = 1;
    int32_t mode_ = kModeEcb;
    int32_t direction_ = kDirEncrypt;
    int32_t rounds_ = 0;
    bool decryptKeysReady_ = false;
    std::array<uint8_t, kBlockSize> iv_{};
    alignas(16) std::array<uint8_t, kRoundKeyBytes> encryptKeys_{};
    alignas(16) std::array<uint8_t, kRoundKeyBytes> decryptKeys_{};
};

}  // namespace velmora
