#pragma once

#include <functional>
#include <string>

#include "platform/UniqueFd.h"

namespace velmora {

// A page file written without a name (or, where the file system cannot do that, under a hidden
// temporary name) in the output folder and given its page name only once it is complete, so
// that nobody ever takes a partly written page for a page. Every temporary name is created
// exclusively: a symbolic link (or anything else) planted at it is never followed or reused. A
// staged file that is not committed is removed again.
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

    // Closes the file and renames it to the page name, replacing whatever entry had that name
    // (a link there is replaced, not followed). False with errno set on a failed close or
    // rename; the temporary is then gone.
    bool commit();

    static constexpr int kCreateAttempts = 64;

  private:
    // Gives the file a fresh hidden name through `makeEntry`, which creates the entry
    // exclusively and sets errno when it cannot.
    bool createNamed(const std::function<bool(const std::string&)>& makeEntry);
    bool linkUnnamed();
    void discard();

    int directoryFd_;
    std::string name_;
    std::string temporaryName_;
    UniqueFd file_;
};

}  // namespace velmora
