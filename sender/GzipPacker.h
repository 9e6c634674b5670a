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
    // reason, and no target left behind.
    static bool pack(const std::filesystem::path& source, const std::filesystem::path& target,
                     std::string& error);
};

}  // namespace velmora
