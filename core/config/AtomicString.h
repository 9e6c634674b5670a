#pragma once

#include <mutex>
#include <string>
#include <utility>

namespace velmora {

// A text setting that one thread may replace while another reads it: readers always get a whole
// value, old or new.
class AtomicString {
  public:
    AtomicString() = default;
    explicit AtomicString(std::string value) : value_(std::move(value)) {}
    AtomicString(const AtomicString& other) : value_(other.get()) {}
    AtomicString& operator=(const AtomicString& other) {
        if (this != &other)
            set(other.get());
        return *this;
    }

    std::string get() const {
        std::lock_guard lock(mutex_);
        return value_;
    }
    void set(std::string value) {
        std::lock_guard lock(mutex_);
        value_.swap(value);
    }

  private:
    mutable std::mutex mutex_;
    std::string value_;
};

}  // namespace velmora
