#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace velmora {

// Reads a small UTF-8 text file from the shared folder. Only a regular file is read (a symbolic
// link, folder or pipe planted in its place is refused), never more than `maxSize` bytes, and
// text that is not valid UTF-8 is refused. False with a reason on any of these.
bool readTextFile(const std::filesystem::path& path, size_t maxSize, std::string& text,
                  std::string& error);

// Decides on an opened file from its status; false with the reason refuses it.
using FileCheck = std::function<bool(const struct stat& info, std::string& reason)>;

// The same, the file also accepted by `check` (owner and mode, say) on the very descriptor that
// is then read, so it cannot be swapped between the check and the read.
bool readTextFile(const std::filesystem::path& path, size_t maxSize, const FileCheck& check,
                  std::string& text, std::string& error);
// The same on a file opened by the caller; `path` names it in messages.
bool readTextFile(int fd, const std::filesystem::path& path, size_t maxSize, const FileCheck& check,
                  std::string& text, std::string& error);

bool isValidUtf8(std::string_view text);
// The text with every byte that is not part of a valid UTF-8 sequence replaced by U+FFFD.
std::string toValidUtf8(std::string_view text);
// Valid UTF-8 cut to at most `maxBytes`, at a character boundary; a text that was cut ends in
// "…" (counted in the bound).
std::string truncateUtf8(std::string text, size_t maxBytes);

}  // namespace velmora
