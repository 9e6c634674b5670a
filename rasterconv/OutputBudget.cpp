#include "OutputBudget.h"

#include <fmt/format.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstring>

namespace velmora {

std::string OutputBudget::refusal(int directoryFd, uint64_t bytes) const {
    if (bytes > limits_.maxRunBytes || spent_ > limits_.maxRunBytes - bytes) {
        return fmt::format("{} bytes would pass the run's limit of {} bytes ({} written)", bytes,
                           limits_.maxRunBytes, spent_);
    }
    struct statvfs fileSystem {};
    if (::fstatvfs(directoryFd, &fileSystem) != 0)
        return fmt::format("the free space cannot be read: {}", std::strerror(errno));
    // A file system that reports no size (some virtual ones) or no file count has nothing of
    // that to guard; the run's limit still holds there.
    const uint64_t available = uint64_t{fileSystem.f_bavail} * fileSystem.f_frsize;
    if (fileSystem.f_blocks != 0 &&
        (available < limits_.minFreeBytes || available - limits_.minFreeBytes < bytes)) {
        return fmt::format("{} bytes would leave less than {} bytes free ({} available)", bytes,
                           limits_.minFreeBytes, available);
    }
    if (fileSystem.f_files != 0 && fileSystem.f_favail <= limits_.minFreeFiles) {
        return fmt::format("one more file would leave fewer than {} files free ({} available)",
                           limits_.minFreeFiles, uint64_t{fileSystem.f_favail});
    }
    return {};
}

}  // namespace velmora
