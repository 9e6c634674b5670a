#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace velmora {

// Reads until `size` bytes or the end of the file, retrying interrupted reads; -1 on a read
// error, else the bytes read (fewer than `size` only at the end of the file).
ssize_t readFully(int fd, void* buffer, size_t size);

// Writes all `size` bytes, retrying interrupted and partial writes; false on an error.
bool writeFully(int fd, const void* buffer, size_t size);

}  // namespace velmora
