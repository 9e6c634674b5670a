#pragma once

#include <cstdint>
#include <string>

namespace velmora {

// How much one run may write. A raster stream compresses runs of equal pixels, so a few
// kilobytes of input can describe gigabytes of pages; without a bound one print job could fill
// the spool disk, on which the sender still needs room for its packed copies.
struct OutputLimits {
    // All page files of one run together.
    uint64_t maxRunBytes = uint64_t{16} << 30;
    // Space the output folder's file system keeps free for unprivileged users after each page.
    uint64_t minFreeBytes = uint64_t{512} << 20;
    // Files (inodes) it keeps free: every page header, however small its page, makes a file.
    uint64_t minFreeFiles = 10000;
};

// Admits page files against the limits of one run.
class OutputBudget {
  public:
    explicit OutputBudget(const OutputLimits& limits) : limits_(limits) {}

    // Why a page file of `bytes` may not be written into the folder open as `directoryFd`;
    // empty when it may.
    std::string refusal(int directoryFd, uint64_t bytes) const;
    void spend(uint64_t bytes) { spent_ += bytes; }

  private:
    OutputLimits limits_;
    uint64_t spent_ = 0;
};

}  // namespace velmora
