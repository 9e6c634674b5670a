#pragma once

#include "LogSink.h"

namespace velmora {

// Sends every line to syslog(3), tagged with its subsystem and category.
class SyslogSink : public LogSink {
  public:
    void write(LogLevel level, std::string_view subsystem, std::string_view category,
               std::string_view message) override;
};

}  // namespace velmora
