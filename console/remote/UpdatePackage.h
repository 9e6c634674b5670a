#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::console {

// The rules a downloaded build goes through before anything runs as root: where it may come
// from, how large it may be, where it is saved and what it must be to be installed.
class UpdatePackage {
  public:
    // Only packages fetched over TLS: the file is later installed with administrator rights.
    static bool isAllowedAddress(std::string_view url);
    // The most bytes a download of an announced size may bring; a size that is missing,
    // negative or absurd still gets no more than kHardMaximumBytes.
    static std::uint64_t maximumBytes(double announcedKilobytes);
    // Percent of `expected` received, 0 to 100; nullopt while the length is unknown (zero or
    // less), so nothing ever divides by it.
    static std::optional<int> progressPercent(std::uint64_t received, std::int64_t expected);

    // A new folder only this user can enter, made for one download; nullopt with the reason.
    static std::optional<std::filesystem::path> makeDownloadFolder(
        const std::filesystem::path& parent, std::string& error);
    static std::filesystem::path targetIn(const std::filesystem::path& folder) {
        return folder / kFileName;
    }

    // "2.0.3" for 2003.
    static std::string versionText(int version);
    // True when `file` is a Debian package of this program in exactly the offered version;
    // otherwise false with what was found instead.
    static bool verify(const std::filesystem::path& file, int offeredVersion, std::string& error,
                       const std::string& dpkgDeb = kDpkgDeb);
    // The installer run through the privileged runner: the program and its arguments.
    static std::vector<std::string> installArguments(const std::filesystem::path& file);

    static constexpr size_t kMaxAddressLength = 4096;
    static constexpr const char* kPackageName = "velmora";
    static constexpr const char* kFileName = "velmora-update.deb";
    static constexpr const char* kDpkgDeb = "/usr/bin/dpkg-deb";
    static constexpr const char* kInstaller = "/usr/bin/apt-get";
    static constexpr std::uint64_t kMarginBytes = 16 * 1024;
    static constexpr std::uint64_t kHardMaximumBytes = std::uint64_t{512} << 20;
};

}  // namespace velmora::console
