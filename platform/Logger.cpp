#include "Logger.h"

#include <mutex>

#include "SyslogSink.h"

namespace velmora {

namespace {

std::mutex& sinkMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<LogSink>& currentSink() {
    static std::shared_ptr<LogSink> sink = std::make_shared<SyslogSink>();
    return sink;
}

std::shared_ptr<LogSink> activeSink() {
    std::lock_guard lock(sinkMutex());
    return currentSink();
}

}  // namespace

const char* logLevelName(LogLevel level) {
    switch (level) {
        case LogLevel::Info:
            return "info";
        case LogLevel::Debug:
            return "debug";
        case LogLevel::Error:
            return "error";
        case LogLevel::Default:
            break;
    }
    return "default";
}

Logger::Logger(std::string subsystem, std::string category)
    : subsystem_(std::move(subsystem)), category_(std::move(category)) {}

void Logger::write(LogLevel level, std::string_view message) const {
    activeSink()->write(level, subsystem_, category_, message);
}

std::shared_ptr<LogSink> Logger::setSink(std::shared_ptr<LogSink> sink) {
    if (!sink)
        sink = std::make_shared<SyslogSink>();
    std::lock_guard lock(sinkMutex());
    std::swap(currentSink(), sink);
    return sink;
}

}  // namespace velmora
