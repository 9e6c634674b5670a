#include "core/crypto/Rijndael.h"

#include <string.h>

#include <algorithm>

#include "core/crypto/AesBackend.h"
#include "core/crypto/AesTables.h"

namespace velmora {
namespace {

constexpr int keyBytesFor(int keyLen) {
    switch (keyLen) {
        case Rijndael::kKeyLen128:
            return 16;
        case Rijndael::kKeyLen192:
            return 24;
        case Rijndael::kKeyLen256:
            return 32;
        default:
            return 0;
    }
}

uint32_t subWord(uint32_t w) {
    using aes::kSbox;
    return aes::column(kSbox[w >> 24], kSbox[(w >> 16) & 0xff], kSbox[(w >> 8) & 0xff],
                       kSbox[w & 0xff]);
}

// InvMixColumns of one column: the Td tables combine InvSubBytes with InvMixColumns, so the
// S-box applied first cancels their substitution.
uint32_t invMixColumn(uint32_t w) {
    using aes::kSbox;
    using aes::kTd;
    return kTd[0][kSbox[w >> 24]] ^ kTd[1][kSbox[(w >> 16) & 0xff]] ^
           kTd[2][kSbox[(w >> 8) & 0xff]] ^ kTd[3][kSbox[w & 0xff]];
}

uint32_t loadWord(const uint8_t* p) {
    return aes::column(p[0], p[1], p[2], p[3]);
}

void storeWord(uint8_t* p, uint32_t w) {
    p[0] = static_cast<uint8_t>(w >> 24);
    p[1] = static_cast<uint8_t>(w >> 16);
    p[2] = static_cast<uint8_t>(w >> 8);
    p[3] = static_cast<uint8_t>(w);
}

const aes::Backend& chooseBackend(Rijndael::Engine engine) {
    if (engine == Rijndael::Engine::automatic) {
        if (const aes::Backend* hardware = aes::hardwareBackend())
            return *hardware;
    }
    return aes::portableBackend();
}

}  // namespace

Rijndael::Rijndael(Engine engine) : backend_(&chooseBackend(engine)) {}

Rijndael::~Rijndael() {
    wipe();
}

void Rijndael::wipe() {
    explicit_bzero(encryptKeys_.data(), encryptKeys_.size());
    explicit_bzero(decryptKeys_.data(), decryptKeys_.size());
}

bool Rijndael::hardwareAvailable() {
    return aes::hardwareBackend() != nullptr;
}

const char* Rijndael::engineName() const {
    return backend_->name;
}

int Rijndael::initMode(int mode, int dir, std::span<const uint8_t> key, int keyLen,
                       std::optional<std::array<uint8_t, kBlockSize>> initVector) {
    notKeyed_ = 1;
    if (mode != kModeEcb && mode != kModeCbc && mode != kModeCfb1)
        return kBadCipherMode;
    if (dir != kDirEncrypt && dir != kDirDecrypt)
        return kBadKeyDirection;
    const int keyBytes = keyBytesFor(keyLen);
    if (keyBytes == 0)
        return kBadKeyLength;
    if (key.size() < static_cast<size_t>(keyBytes))
        return kBadKeyMaterial;

    mode_ = mode;
    direction_ = dir;
    iv_ = initVector.value_or(std::array<uint8_t, kBlockSize>{});
    keySched(key.first(static_cast<size_t>(keyBytes)));
    // Both schedules are kept: the 1-bit CFB mode runs the forward cipher in either direction,
    // and decryptA() works on an encrypting cipher as well.
    keyEncToDec();
    notKeyed_ = 0;
    return 0;
}

int Rijndael::keySched(std::span<const uint8_t> key) {
    const int nk = static_cast<int>(key.size() / 4);
    if (key.size() != 16 && key.size() != 24 && key.size() != 32)
        return kBadKeyLength;
    rounds_ = nk + 6;
    decryptKeysReady_ = false;

    const int words = 4 * (rounds_ + 1);
    uint32_t w[4 * (aes::kMaxRounds + 1)];
    for (int i = 0; i < nk; ++i)
        w[i] = loadWord(key.data() + 4 * i);
    uint8_t rcon = 0x01;
    for (int i = nk; i < words; ++i) {
        uint32_t temp = w[i - 1];
        if (i % nk == 0) {
            temp = subWord((temp << 8) | (temp >> 24)) ^ (uint32_t{rcon} << 24);
            rcon = aes::xtime(rcon);
        } else if (nk > 6 && i % nk == 4) {
            temp = subWord(temp);
        }
        w[i] = w[i - nk] ^ temp;
    }
    for (int i = 0; i < words; ++i)
        storeWord(encryptKeys_.data() + 4 * i, w[i]);
    explicit_bzero(w, sizeof w);
    return 0;
}

void Rijndael::keyEncToDec() {
    if (rounds_ == 0)
        return;
    for (int round = 0; round <= rounds_; ++round) {
        const uint8_t* from = encryptKeys_.data() + kBlockSize * (rounds_ - round);
        uint8_t* to = decryptKeys_.data() + kBlockSize * round;
        const bool outer = round == 0 || round == rounds_;
        for (int c = 0; c < 4; ++c) {
            const uint32_t word = loadWord(from + 4 * c);
            storeWord(to + 4 * c, outer ? word : invMixColumn(word));
        }
    }
    decryptKeysReady_ = true;
}

int64_t Rijndael::padEncryptInput(std::span<const uint8_t> input,
                                  std::span<uint8_t> outBuffer) const {
    if (notKeyed_ != 0 || direction_ != kDirEncrypt)
        return kNotKeyed;
    if (input.empty())
        return 0;
    if (mode_ != kModeEcb && mode_ != kModeCbc)
        return kBadCipherMode;
    const size_t fullBlocks = input.size() / kBlockSize;
    const size_t total = fullBlocks * kBlockSize + kBlockSize;
    if (outBuffer.size() < total)
        return kBufferTooSmall;

    // The tail is copied out first so that in-place calls cannot clobber it.
    const size_t tail = input.size() - fullBlocks * kBlockSize;
    uint8_t last[kBlockSize];
    std::fill(std::begin(last), std::end(last), static_cast<uint8_t>(kBlockSize - tail));
    std::copy_n(input.data() + fullBlocks * kBlockSize, tail, last);

    uint8_t* lastOut = outBuffer.data() + fullBlocks * kBlockSize;
    if (mode_ == kModeEcb) {
        backend_->encryptBlocks(encryptKeys_.data(), rounds_, input.data(), outBuffer.data(),
                                fullBlocks);
        backend_->encryptBlocks(encryptKeys_.data(), rounds_, last, lastOut, 1);
    } else {
        backend_->cbcEncrypt(encryptKeys_.data(), rounds_, iv_.data(), input.data(),
                             outBuffer.data(), fullBlocks);
        const uint8_t* chain = fullBlocks == 0 ? iv_.data() : lastOut - kBlockSize;
        backend_->cbcEncrypt(encryptKeys_.data(), rounds_, chain, last, lastOut, 1);
    }
    return static_cast<int64_t>(total);
}

int64_t Rijndael::blockDecryptInput(std::span<const uint8_t> input,
                                    std::span<uint8_t> outBuffer) const {
    if (notKeyed_ != 0)
        return kNotKeyed;
    if (mode_ != kModeCfb1 && direction_ != kDirDecrypt)
        return kNotKeyedForDecrypt;
    if (mode_ != kModeCfb1 && !decryptKeysReady_)
        return kNotKeyed;
    const size_t blocks = input.size() / kBlockSize;
    if (blocks == 0)
        return 0;
    if (outBuffer.size() < blocks * kBlockSize)
        return kBufferTooSmall;

    switch (mode_) {
        case kModeEcb:
            backend_->decryptBlocks(decryptKeys_.data(), rounds_, input.data(), outBuffer.data(),
                                    blocks);
            break;
        case kModeCbc:
            backend_->cbcDecrypt(decryptKeys_.data(), rounds_, iv_.data(), input.data(),
                                 outBuffer.data(), blocks);
            break;
        case kModeCfb1:
            cfb1Decrypt(input.data(), outBuffer.data(), blocks);
            break;
        default:
            return kBadCipherMode;
    }
    return static_cast<int64_t>(blocks) * kBlockSize * 8;
}

void Rijndael::cfb1Decrypt(const uint8_t* in, uint8_t* out, size_t blocks) const {
    std::array<uint8_t, kBlockSize> shift = iv_;
    uint8_t keyStream[kBlockSize];
    for (size_t n = 0; n < blocks * kBlockSize; ++n) {
        const uint8_t cipherByte = in[n];
        uint8_t plainByte = 0;
        for (int bit = 7; bit >= 0; --bit) {
            backend_->encryptBlocks(encryptKeys_.data(), rounds_, shift.data(), keyStream, 1);
            const uint8_t cipherBit = (cipherByte >> bit) & 1;
            plainByte |= static_cast<uint8_t>(((keyStream[0] >> 7) ^ cipherBit) << bit);
            for (int i = 0; i < kBlockSize - 1; ++i) {
                shift[i] = static_cast<uint8_t>((shift[i] << 1) | (shift[i + 1] >> 7));
            }
            shift[kBlockSize - 1] = static_cast<uint8_t>((shift[kBlockSize - 1] << 1) | cipherBit);
        }
        out[n] = plainByte;
    }
}

int64_t Rijndael::blockEncryptChunks(std::span<const uint8_t> input, size_t chunkBytes,
                                     std::span<uint8_t> outBuffer) const {
    if (notKeyed_ != 0 || direction_ != kDirEncrypt)
        return kNotKeyed;
    if (mode_ != kModeEcb && mode_ != kModeCbc)
        return kBadCipherMode;
    if (chunkBytes == 0 || chunkBytes % kBlockSize != 0)
        return kBadChunkSize;
    const size_t bytes = input.size() / kBlockSize * kBlockSize;
    if (outBuffer.size() < bytes)
        return kBufferTooSmall;

    if (mode_ == kModeEcb) {
        backend_->encryptBlocks(encryptKeys_.data(), rounds_, input.data(), outBuffer.data(),
                                bytes / kBlockSize);
        return static_cast<int64_t>(bytes);
    }
    const size_t chunks = bytes / chunkBytes;
    backend_->cbcEncryptChunks(encryptKeys_.data(), rounds_, iv_.data(), input.data(),
                               outBuffer.data(), chunkBytes / kBlockSize, chunks);
    const size_t done = chunks * chunkBytes;
    if (done < bytes) {
        backend_->cbcEncrypt(encryptKeys_.data(), rounds_, iv_.data(), input.data() + done,
                             outBuffer.data() + done, (bytes - done) / kBlockSize);
    }
    return static_cast<int64_t>(bytes);
}

bool Rijndael::encryptA(std::span<const uint8_t, kBlockSize> a,
                        std::span<uint8_t, kBlockSize> b) const {
    if (rounds_ == 0)
        return false;
    backend_->encryptBlocks(encryptKeys_.data(), rounds_, a.data(), b.data(), 1);
    return true;
}

bool Rijndael::decryptA(std::span<const uint8_t, kBlockSize> a,
                        std::span<uint8_t, kBlockSize> b) const {
    if (!decryptKeysReady_)
        return false;
    backend_->decryptBlocks(decryptKeys_.data(), rounds_, a.data(), b.data(), 1);
    return true;
}

}  // namespace velmora
