#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/LogSink.h"

namespace velmora::console {

// Copies every log line to a file descriptor (standard error) besides the system log, one line
// per entry: a console without a window is watched this way by its administrator, the tests
// and the demo. Control characters in a message become "?", so nothing a service sends can
// start a line of its own or steer a terminal. A message is cut after kMaxMessageBytes: a
// service's text can be megabytes, and would be logged again at every retry.
class StderrLogSink : public LogSink {
  public:
    static constexpr std::size_t kMaxMessageBytes = 4096;

    StderrLogSink(std::shared_ptr<LogSink> next, int fd, std::string program);

    void write(LogLevel level, std::string_view subsystem, std::string_view category,
               std::string_view message) override;

    // "velmora: [main] notice: Initialize\n" for a message.
    static std::string line(std::string_view program, LogLevel level, std::string_view category,
                            std::string_view message);

  private:
    static std::size_t cutPoint(std::string_view message);

    std::shared_ptr<LogSink> next_;
    int fd_;
    std::string program_;
    std::mutex mutex_;
};

}  // namespace velmora::console
