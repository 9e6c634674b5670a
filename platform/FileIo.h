#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace velmora {

// Reads until `size` bytes or the end of the file, retrying interrupted reads; -1 on a read
// error, else the bytes read (fewer than `size` only at the end of the file).
ssize_t readFully(int fd, void* buffer, size_t size);

// Writes all `size` bytes, retrying interrupted and partial writes; false on an error.
bool writeFully(int fd, const void* buffer, size_t size);

// Copies everything from `input`'s current position to its end into `output`; false on a read
// or write error (errno tells which).
bool copyFully(int input, int output);

// Creates `path` as a new file with `mode` (O_CREAT|O_EXCL|O_NOFOLLOW), opened for reading and
// writing. A regular file already at the path is removed first, so an earlier output is
// replaced; a link or anything else there is refused (EEXIST or ELOOP), never followed. -1 with
// errno on failure.
int createReplacingFile(const char* path, mode_t mode);

}  // namespace velmora
