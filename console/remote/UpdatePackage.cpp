#include "console/remote/UpdatePackage.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <sstream>

#include "console/remote/ProcessRunner.h"

namespace velmora::console {

namespace {

constexpr std::chrono::seconds kFieldReadTimeout{30};

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

bool UpdatePackage::isAllowedAddress(std::string_view url) {
    constexpr std::string_view kScheme = "https://";
    if (url.size() <= kScheme.size() || url.size() > kMaxAddressLength)
        return false;
    for (size_t index = 0; index < kScheme.size(); ++index)
        if (std::tolower(static_cast<unsigned char>(url[index])) != kScheme[index])
            return false;
    // No blanks or control characters anywhere, and a host right after the scheme.
    for (const char c : url)
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f)
            return false;
    const char first = url[kScheme.size()];
    return first != '/' && first != '?' && first != '#' && first != ':' && first != '@';
}

std::uint64_t UpdatePackage::maximumBytes(double announcedKilobytes) {
    const double hardKilobytes = static_cast<double>(kHardMaximumBytes - kMarginBytes) / 1024.0;
    if (!std::isfinite(announcedKilobytes) || announcedKilobytes <= 0)
        return kHardMaximumBytes;
    if (announcedKilobytes >= hardKilobytes)
        return kHardMaximumBytes;
    return static_cast<std::uint64_t>(std::ceil(announcedKilobytes * 1024.0)) + kMarginBytes;
}

std::optional<int> UpdatePackage::progressPercent(std::uint64_t received, std::int64_t expected) {
    if (expected <= 0)
        return std::nullopt;
    const auto total = static_cast<std::uint64_t>(expected);
    if (received >= total)
        return 100;
    return static_cast<int>(received * 100 / total);
}

std::optional<std::filesystem::path> UpdatePackage::makeDownloadFolder(
    const std::filesystem::path& parent, std::string& error) {
    std::string pattern = (parent / "velmora-update-XXXXXX").string();
    // mkdtemp makes the folder with mode 0700 and never reuses an existing name or link.
    if (::mkdtemp(pattern.data()) == nullptr) {
        error =
            "Cannot create a download folder in " + parent.string() + ": " + std::strerror(errno);
        return std::nullopt;
    }
    return std::filesystem::path(pattern);
}

std::string UpdatePackage::versionText(int version) {
    return std::to_string(version / 1000) + "." + std::to_string(version % 1000 / 100) + "." +
           std::to_string(version % 100);
}

bool UpdatePackage::verify(const std::filesystem::path& file, int offeredVersion,
                           std::string& error, const std::string& dpkgDeb) {
    struct stat info {};
    if (::lstat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        error = "The downloaded file is missing";
        return false;
    }
    const ProcessRunner::Result result = ProcessRunner::run(
        {dpkgDeb, "--field", file.string(), "Package", "Version"}, kFieldReadTimeout);
    if (!result.succeeded()) {
        error = "The downloaded file is not a Debian package";
        return false;
    }
    std::string package;
    std::string version;
    std::istringstream lines(result.output);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("Package:", 0) == 0)
            package = trimmed(line.substr(8));
        else if (line.rfind("Version:", 0) == 0)
            version = trimmed(line.substr(8));
    }
    if (package != kPackageName) {
        error = "The downloaded package is not Velmora's";
        return false;
    }
    const std::string expected = versionText(offeredVersion);
    // A Debian revision ("2.0.3-1") is allowed; the upstream version must be the offered one.
    if (version != expected && version.rfind(expected + "-", 0) != 0) {
        error = "The downloaded package has version " + version.substr(0, 64) + ", not " + expected;
        return false;
    }
    return true;
}

std::vector<std::string> UpdatePackage::installArguments(const std::filesystem::path& file) {
    return {kInstaller, "install", "--yes", file.string()};
}

}  // namespace velmora::console
