#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>

namespace velmora::console {

// The PPD that the root helper hands lpadmin, which reads it with root's rights. Every user's
// console writes the shared folder, so its PPD is taken only when it is a regular file (no
// link, one name only) that root or the requesting user owns and nobody else may change; it is
// copied into a folder of the helper's own, so nothing can swap it before lpadmin reads it.
class TrustedPpdCopy {
  public:
    static constexpr size_t kMaxPpdBytes = 1 << 20;

    // The copy of `sharedDir`/`fileName`, in a new folder of the same file name; nullptr (and
    // the reason in `error`) for a file that is not to be trusted.
    static std::unique_ptr<TrustedPpdCopy> make(const std::filesystem::path& sharedDir,
                                                const std::string& fileName, uid_t requester,
                                                std::string& error);
    // Owns `folder` and removes it with its content.
    explicit TrustedPpdCopy(std::filesystem::path folder) : folder_(std::move(folder)) {}
    ~TrustedPpdCopy();
    TrustedPpdCopy(const TrustedPpdCopy&) = delete;
    TrustedPpdCopy& operator=(const TrustedPpdCopy&) = delete;

    // Holds the copy under the shared folder's file name.
    const std::filesystem::path& folder() const { return folder_; }

  private:
    std::filesystem::path folder_;
};

}  // namespace velmora::console
