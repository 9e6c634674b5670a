#pragma once

#include <string_view>

#include "LogLevel.h"

namespace velmora {

// Where finished log lines go. The programs use the system log; tests install a capture sink.
class LogSink {
  public:
    virtual ~LogSink() = default;
    virtual void write(LogLevel level, std::string_view subsystem, std::string_view category,
                       std::string_view message) = 0;
};

}  // namespace velmora
