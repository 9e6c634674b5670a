#include "tests/core/crypto/CryptoTestSupport.h"

#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <stdexcept>

#include "core/crypto/JobFileCipher.h"

namespace velmora::test {

Bytes randomBytes(size_t size, uint32_t seed) {
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (auto& b : bytes)
        b = static_cast<uint8_t>(generator());
    return bytes;
}

Bytes fromHex(const std::string& hex) {
    Bytes bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

Bytes opensslCrypt(const EVP_CIPHER* cipher, bool encrypt, std::span<const uint8_t> key,
                   std::span<const uint8_t> iv, std::span<const uint8_t> data, bool padding) {
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    if (!ctx || EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key.data(),
                                  iv.empty() ? nullptr : iv.data(), encrypt ? 1 : 0) != 1) {
        throw std::runtime_error("EVP_CipherInit_ex failed");
    }
    EVP_CIPHER_CTX_set_padding(ctx.get(), padding ? 1 : 0);
    Bytes out(data.size() + 32);
    int length = 0;
    int finalLength = 0;
    if (EVP_CipherUpdate(ctx.get(), out.data(), &length, data.data(),
                         static_cast<int>(data.size())) != 1 ||
        EVP_CipherFinal_ex(ctx.get(), out.data() + length, &finalLength) != 1) {
        throw std::runtime_error("EVP_Cipher failed");
    }
    out.resize(static_cast<size_t>(length + finalLength));
    return out;
}

const EVP_CIPHER* opensslAes(size_t keyBytes, const std::string& mode) {
    if (mode == "ecb") {
        return keyBytes == 16   ? EVP_aes_128_ecb()
               : keyBytes == 24 ? EVP_aes_192_ecb()
                                : EVP_aes_256_ecb();
    }
    if (mode == "cfb1") {
        return keyBytes == 16   ? EVP_aes_128_cfb1()
               : keyBytes == 24 ? EVP_aes_192_cfb1()
                                : EVP_aes_256_cfb1();
    }
    return keyBytes == 16   ? EVP_aes_128_cbc()
           : keyBytes == 24 ? EVP_aes_192_cbc()
                            : EVP_aes_256_cbc();
}

Bytes opensslJobFile(std::span<const uint8_t> plain, std::span<const uint8_t> key) {
    Bytes file{static_cast<uint8_t>(16 - plain.size() % 16)};
    for (size_t offset = 0; offset < plain.size(); offset += kJobFileChunkSize) {
        const size_t length = std::min(kJobFileChunkSize, plain.size() - offset);
        // Full chunks go without padding; the short last chunk carries PKCS #7 padding, which is
        // the layout's P bytes of value P.
        const bool last = length < kJobFileChunkSize;
        const Bytes chunk = opensslCrypt(EVP_aes_256_cbc(), true, key.first(32), kJobFileInitVector,
                                         plain.subspan(offset, length), last);
        file.insert(file.end(), chunk.begin(), chunk.end());
    }
    return file;
}

Bytes readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::filesystem::path& path, std::span<const uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

std::string engineName(const ::testing::TestParamInfo<Rijndael::Engine>& info) {
    return info.param == Rijndael::Engine::automatic ? "Automatic" : "Portable";
}

}  // namespace velmora::test
