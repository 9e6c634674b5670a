#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "LogSink.h"

namespace velmora {

// Keeps every line in memory so that tests can assert what was logged.
class CaptureLogSink : public LogSink {
  public:
    struct Entry {
        LogLevel level;
        std::string subsystem;
        std::string category;
        std::string message;
    };

    void write(LogLevel level, std::string_view subsystem, std::string_view category,
               std::string_view message) override;

    std::vector<Entry> entries() const;
    // Messages only, in order, optionally limited to one level.
    std::vector<std::string> messages() const;
    std::vector<std::string> messages(LogLevel level) const;
    bool contains(LogLevel level, std::string_view message) const;
    void clear();

  private:
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};

}  // namespace velmora
