#include "BufferedFileReader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace velmora {

BufferedFileReader::BufferedFileReader(int fd)
    : fd_(fd), buffer_(std::make_unique_for_overwrite<uint8_t[]>(kBufferSize)) {}

ssize_t BufferedFileReader::read(void* context, unsigned char* buffer, size_t length) {
    return static_cast<BufferedFileReader*>(context)->readInto(buffer, length);
}

ssize_t BufferedFileReader::readInto(unsigned char* buffer, size_t length) {
    if (start_ == end_) {
        // Large requests bypass the buffer: one copy, straight from the kernel.
        if (length >= kBufferSize) {
            ssize_t got;
            do {
                got = ::read(fd_, buffer, length);
            } while (got < 0 && errno == EINTR);
            return got;
        }
        ssize_t got;
        do {
            got = ::read(fd_, buffer_.get(), kBufferSize);
        } while (got < 0 && errno == EINTR);
        if (got <= 0)
            return got;
        start_ = 0;
        end_ = static_cast<size_t>(got);
    }
    const size_t served = std::min(length, end_ - start_);
    std::memcpy(buffer, buffer_.get() + start_, served);
    start_ += served;
    return static_cast<ssize_t>(served);
}

}  // namespace velmora
