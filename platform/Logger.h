#pragma once

#include <fmt/format.h>

#include <memory>
#include <string>
#include <string_view>

#include "LogLevel.h"
#include "LogSink.h"

namespace velmora {

// One log handle: a subsystem and a category, writing through the process-wide sink.
// Messages are {fmt} format strings; every argument is logged in the clear.
class Logger {
  public:
    Logger(std::string subsystem, std::string category);

    template <typename... Args>
    void log(LogLevel level, fmt::format_string<Args...> format, Args&&... args) const {
        write(level, fmt::format(format, std::forward<Args>(args)...));
    }
    template <typename... Args>
    void notice(fmt::format_string<Args...> format, Args&&... args) const {
        log(LogLevel::Default, format, std::forward<Args>(args)...);
    }
    template <typename... Args>
    void info(fmt::format_string<Args...> format, Args&&... args) const {
        log(LogLevel::Info, format, std::forward<Args>(args)...);
    }
    template <typename... Args>
    void debug(fmt::format_string<Args...> format, Args&&... args) const {
        log(LogLevel::Debug, format, std::forward<Args>(args)...);
    }
    template <typename... Args>
    void error(fmt::format_string<Args...> format, Args&&... args) const {
        log(LogLevel::Error, format, std::forward<Args>(args)...);
    }

    void write(LogLevel level, std::string_view message) const;

    const std::string& subsystem() const { return subsystem_; }
    const std::string& category() const { return category_; }

    // Replaces the process-wide sink (the system log by default) and returns the previous one.
    // A null sink restores the system log.
    static std::shared_ptr<LogSink> setSink(std::shared_ptr<LogSink> sink);

  private:
    std::string subsystem_;
    std::string category_;
};

}  // namespace velmora
