#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace velmora {

// Reads a small UTF-8 text file from the shared folder. Only a regular file is read (a symbolic
// link, folder or pipe planted in its place is refused), never more than `maxSize` bytes, and
// text that is not valid UTF-8 is refused. False with a reason on any of these.
bool readTextFile(const std::filesystem::path& path, size_t maxSize, std::string& text,
                  std::string& error);

bool isValidUtf8(std::string_view text);

}  // namespace velmora
