#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/UniqueFd.h"

namespace velmora {

// A job's spool folder, held open so that every later step works on the folder that was checked
// and never on whatever the path names by then. Pages are opened without following links and
// only when they are plain files of the running user; the sender's own files are made new,
// never reused.
class SpoolFolder {
  public:
    // The folder at `path` when it is a folder itself (not a link to one), belongs to the
    // running user and no other account may write it; otherwise nullopt with the reason.
    static std::optional<SpoolFolder> open(const std::filesystem::path& path, std::string& error);

    // True when `name` ends in "." + `extension`, compared without regard to case.
    static bool hasExtension(std::string_view name, std::string_view extension);

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path pathOf(std::string_view name) const { return path_ / name; }

    // Names of the entries that end in "." + `extension` (any case), in page order. False when
    // the folder cannot be read.
    bool filesWithExtension(std::string_view extension, std::vector<std::string>& names,
                            std::string& error) const;
    // Opens a page for reading: a regular file with a single name, owned by the running user.
    UniqueFd openPage(const std::string& name, std::string& error) const;
    // Creates a new file, mode 0600, open for reading and writing; fails when anything, a link
    // included, already has the name.
    UniqueFd createNew(const std::string& name, std::string& error) const;
    // Gives `from` the name `to`, replacing what had it (a link is replaced, not followed).
    bool rename(const std::string& from, const std::string& to, std::string& error) const;
    // Removes the entry itself (a link, not what it names); quiet when it is gone already.
    void remove(const std::string& name) const;
    // Removes the folder when nothing else is left in it; false when it still holds something.
    bool removeIfEmpty(std::string& error) const;

  private:
    SpoolFolder(UniqueFd fd, std::filesystem::path path, uid_t owner)
        : fd_(std::move(fd)), path_(std::move(path)), owner_(owner) {}

    UniqueFd fd_;
    std::filesystem::path path_;
    uid_t owner_;
};

}  // namespace velmora
