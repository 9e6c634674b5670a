#pragma once

// Encryption of job page files between the sender and the printing computer.
//
// File layout (S = size of the plain file, P = 16 - S mod 16, so 1 to 16):
//   1 byte     P
//   n x 16384  each complete 16384-byte chunk of the plain file, AES-256-CBC encrypted from
//              kJobFileInitVector, without padding
//   last       only when R = S mod 16384 is not 0: the remaining R bytes followed by P bytes of
//              value P, AES-256-CBC encrypted from kJobFileInitVector
// Every chunk restarts the chain from the same vector. An empty plain file gives the single byte
// 16.
//
// The service hands out the job key as Base64 text; callers decode it first (with the core's
// Base64 decoder) and pass the bytes, of which the first 32 are the AES-256 key.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "core/crypto/Rijndael.h"

namespace velmora {

inline constexpr size_t kJobFileChunkSize = 16384;
inline constexpr size_t kJobFileKeySize = 32;
// The ASCII text "MarlowQuietPine" and one zero byte.
inline constexpr std::array<uint8_t, 16> kJobFileInitVector = {
    'M', 'a', 'r', 'l', 'o', 'w', 'Q', 'u', 'i', 'e', 't', 'P', 'i', 'n', 'e', 0};

// Encrypts the file at plainPath into a new file at encryptedPath (created with mode 0600,
// replacing a regular file that was there). True when the encrypted file was written
// completely; otherwise false with the reason in `error`, and no output left behind. A link at
// either path is refused, never followed.
bool encryptJobFile(const std::filesystem::path& plainPath,
                    const std::filesystem::path& encryptedPath, std::span<const uint8_t> key,
                    std::string& error, Rijndael::Engine engine = Rijndael::Engine::automatic);

// The same between two open files: the whole of plainFd (a regular file, read from its start)
// is written at encryptedFd's current position. Neither is closed; for callers that create and
// check their files themselves, relative to a folder they hold open.
bool encryptJobFile(int plainFd, int encryptedFd, std::span<const uint8_t> key, std::string& error,
                    Rijndael::Engine engine = Rijndael::Engine::automatic);

// Decrypts the file at encryptedPath into a new file at plainPath (mode 0600, created as for
// encryptJobFile: a link at either path is refused, never followed). True when the
// plain file was written completely. A damaged file (bad pad count, a length that does not fit
// the layout, padding bytes that do not match, as with a wrong key) gives false with the reason in
// `error`; the output is then not created, or removed again.
bool decryptJobFile(const std::filesystem::path& encryptedPath,
                    const std::filesystem::path& plainPath, std::span<const uint8_t> key,
                    std::string& error, Rijndael::Engine engine = Rijndael::Engine::automatic);

}  // namespace velmora
