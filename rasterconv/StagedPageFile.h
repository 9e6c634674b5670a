#pragma once

#include <string>

#include "platform/UniqueFd.h"

namespace velmora {

// A page file written under a hidden temporary name in the output folder and given its page
// name only once it is complete, so that nobody ever takes a partly written page for a page.
// The temporary is created exclusively: a symbolic link (or anything else) planted at its name
// is never followed or reused. A staged file that is not committed is removed again.
class StagedPageFile {
  public:
    // `directoryFd` stays owned by the caller and must outlive this object.
    StagedPageFile(int directoryFd, std::string name);
    ~StagedPageFile();
    StagedPageFile(const StagedPageFile&) = delete;
    StagedPageFile& operator=(const StagedPageFile&) = delete;

    // Creates the temporary; false with errno set when it cannot be created.
    bool create();
    int fd() const { return file_.get(); }
    const std::string& temporaryName() const { return temporaryName_; }

    // Closes the file and renames it to the page name, replacing whatever entry had that name
    // (a link there is replaced, not followed). False with errno set on a failed close or
    // rename; the temporary is then gone.
    bool commit();

    static constexpr int kCreateAttempts = 64;

  private:
    void discard();

    int directoryFd_;
    std::string name_;
    std::string temporaryName_;
    UniqueFd file_;
};

}  // namespace velmora
