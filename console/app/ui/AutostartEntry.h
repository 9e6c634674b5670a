#pragma once

#include <filesystem>
#include <string>

namespace velmora::console {

// Start at login: the desktop's autostart entry for this program in the user's configuration
// folder. It starts the console hidden in its tray. The entry is written atomically and never
// through a link: a link planted at the entry's name or in place of the folder is refused or
// replaced, never followed.
class AutostartEntry {
  public:
    // `program`: the path the entry starts.
    AutostartEntry(std::filesystem::path file, std::filesystem::path program);
    // The user's entry, found through the desktop's configuration folder, starting the program
    // that runs now.
    static AutostartEntry forCurrentUser();

    const std::filesystem::path& file() const { return file_; }
    // A regular file of this user at the entry's place.
    bool isInstalled() const;
    // Writes the entry when it is missing or differs; false with the reason.
    bool install(std::string& error) const;
    // Removes the entry, if any; false with the reason.
    bool remove(std::string& error) const;
    // The entry's text; empty when the program's path cannot be written in one (a line break).
    std::string contents() const;

    // The Exec value for a path: quoted, with the characters the desktop format reserves
    // escaped.
    static std::string execValue(const std::filesystem::path& program);

    static constexpr const char* kFileName = "velmora.desktop";
    static constexpr const char* kHiddenOption = "--hidden";

  private:
    // The entry's folder opened without following a link, created (private) when missing.
    int openFolder(bool create, std::string& error) const;

    std::filesystem::path file_;
    std::filesystem::path program_;
};

}  // namespace velmora::console
