#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

namespace velmora::console {

// Streams one page file from the service into a new file, so that a page is never held in
// memory whole. The file appears under its final name only once it is complete.
class PageDownloader {
  public:
    using Headers = std::map<std::string, std::string>;

    enum class Outcome { kDone, kTransferFailed, kFileFailed };

    struct Limits {
        uint64_t maxBytes = kMaxPageBytes;
        // The download fails when no byte arrives for this long.
        double idleSeconds = 10;
        // ...and when it is not complete after this long, however steadily a service drips it:
        // the one download worker must come free again.
        double overallSeconds = 600;
    };

    // A page download larger than this is refused.
    static constexpr uint64_t kMaxPageBytes = uint64_t{1} << 30;

    // `cancelled`, when given, ends a running transfer as soon as it becomes true.
    explicit PageDownloader(const std::atomic<bool>* cancelled = nullptr) : cancelled_(cancelled) {}

    // GETs `url` with exactly `headers` (plus "User-Agent") into `target`, through the
    // temporary `partial` (replaced when present). kTransferFailed: `error` is the transport's
    // or the status's text; kFileFailed: the file could not be written. On failure neither
    // `partial` nor `target` is left behind.
    Outcome download(const std::string& url, const Headers& headers,
                     const std::filesystem::path& partial, const std::filesystem::path& target,
                     std::string& error) const;

    void setLimits(Limits limits) { limits_ = limits; }

  private:
    const std::atomic<bool>* cancelled_;
    Limits limits_;
};

}  // namespace velmora::console
