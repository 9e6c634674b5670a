#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace velmora::console {

// Turns a downloaded page file back into its plain form: the job key's decryption and the
// gzip unpacking, each into a fresh file.
class PageDecoder {
  public:
    // A page never unpacks to more than this.
    static constexpr uint64_t kMaxPlainBytes = uint64_t{2} << 30;

    // True when the Base64 text decodes to a key long enough to decrypt with.
    static bool isUsableKey(const std::string& base64Key);
    // Decrypts `source` into the new file `target` with the job key given as Base64 text.
    static bool decrypt(const std::filesystem::path& source, const std::filesystem::path& target,
                        const std::string& base64Key, std::string& error);
    // Unpacks the gzip stream `source` into the new file `target`. Fails for a file that is not
    // a complete gzip stream, and once the output would exceed `maxBytes`.
    static bool unpack(const std::filesystem::path& source, const std::filesystem::path& target,
                       std::string& error, uint64_t maxBytes = kMaxPlainBytes);
    // Creates `path` afresh (a stale file of that name is removed first), mode 0600, never
    // through a symbolic link. -1 on failure.
    static int createFresh(const std::filesystem::path& path);
};

}  // namespace velmora::console
