#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace velmora {

// Feeds the raster library from a file descriptor in large reads. The library asks for one
// raster line at a time; without this every line would cost a system call of its own.
class BufferedFileReader {
  public:
    explicit BufferedFileReader(int fd);

    // The raster library's read callback; `context` is the reader.
    static ssize_t read(void* context, unsigned char* buffer, size_t length);

    // Small enough to stay in the processor's cache between the kernel's copy into it and the
    // raster library's copy out of it; large enough that a read costs little per byte.
    static constexpr size_t kBufferSize = size_t{128} << 10;

  private:
    ssize_t readInto(unsigned char* buffer, size_t length);

    int fd_;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t start_ = 0;
    size_t end_ = 0;
};

}  // namespace velmora
