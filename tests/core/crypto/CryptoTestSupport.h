#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "core/crypto/Rijndael.h"

namespace velmora::test {

using Bytes = std::vector<uint8_t>;

Bytes randomBytes(size_t size, uint32_t seed);
Bytes fromHex(const std::string& hex);

// One call of OpenSSL's EVP interface over `data`, with or without PKCS #7 padding.
Bytes opensslCrypt(const EVP_CIPHER* cipher, bool encrypt, std::span<const uint8_t> key,
                   std::span<const uint8_t> iv, std::span<const uint8_t> data, bool padding);

// The AES-256-CBC cipher for a key of `keyBytes` bytes in the named mode ("ecb", "cbc", "cfb1").
const EVP_CIPHER* opensslAes(size_t keyBytes, const std::string& mode);

// The encrypted job file for `plain`, built with OpenSSL alone.
Bytes opensslJobFile(std::span<const uint8_t> plain, std::span<const uint8_t> key);

Bytes readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, std::span<const uint8_t> bytes);

// Names the cipher engine of a parameterised test.
std::string engineName(const ::testing::TestParamInfo<Rijndael::Engine>& info);

}  // namespace velmora::test
