#pragma once

#include <filesystem>
#include <string>

namespace velmora {

// Packs a page file into a gzip stream (header and trailer, default compression level), reading
// the source in bounded blocks so that the page size does not bound memory.
class GzipPacker {
  public:
    static constexpr size_t kBlockSize = 10000;

    // True when every block was written and the stream closed cleanly; otherwise false with the
    // reason, and no target left behind. Links at either path are refused, never followed; a
    // regular file at the target is replaced.
    static bool pack(const std::filesystem::path& source, const std::filesystem::path& target,
                     std::string& error);
    // The same between open files: `source` from its current position to its end, written at
    // `target`'s current position. Neither descriptor is closed.
    static bool pack(int source, int target, std::string& error);
};

}  // namespace velmora
