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
    // A file system that reports no size at all (some virtual ones) has no free space to
    // guard; the run's limit still holds there.
    if (fileSystem.f_blocks == 0)
        return {};
    const uint64_t available = uint64_t{fileSystem.f_bavail} * fileSystem.f_frsize;
    if (available < limits_.minFreeBytes || available - limits_.minFreeBytes < bytes) {
        return fmt::format("{} bytes would leave less than {} bytes free ({} available)", bytes,
                           limits_.minFreeBytes, available);
    }
    return {};
}

}  // namespace velmora
