#pragma once

#include <string>
#include <string_view>

namespace velmora {

// Page formats a printer accepts (`transportMask`) and the one a job is sent in (`transport`).
inline constexpr int kTransportEmf = 1;
inline constexpr int kTransportBmp = 2;
inline constexpr int kTransportPs = 4;
inline constexpr int kTransportJpg = 8;
inline constexpr int kTransportPng = 16;
inline constexpr int kTransportPdf = 32;

// Encryption methods a printer accepts (`encryptMask`) and the one a job uses (`encryption`).
inline constexpr int kEncryptionAes = 1;   // key protected by the sending user's password
inline constexpr int kEncryptionAes0 = 2;  // key kept by the service
inline constexpr int kEncryptionRsa = 4;   // named by the service only

// Names of the set bits in bit order, joined by ","; "" for 0. Bits without a name are ignored.
std::string transportNamesFromMask(int mask);
std::string encryptionNamesFromMask(int mask);

// The bit of one name (exact, case-sensitive), or `fallback` for any other text.
int transportFromName(std::string_view name, int fallback);
int encryptionFromName(std::string_view name, int fallback);

// Union of the bits of a ","-separated name list; unknown names add nothing.
int transportMaskFromNames(std::string_view names);
int encryptionMaskFromNames(std::string_view names);

}  // namespace velmora
