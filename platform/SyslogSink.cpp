#include "SyslogSink.h"

#include <syslog.h>

namespace velmora {

namespace {

int syslogPriority(LogLevel level) {
    switch (level) {
        case LogLevel::Debug:
            return LOG_DEBUG;
        case LogLevel::Info:
            return LOG_INFO;
        case LogLevel::Error:
            return LOG_ERR;
        case LogLevel::Default:
            break;
    }
    return LOG_NOTICE;
}

}  // namespace

void SyslogSink::write(LogLevel level, std::string_view subsystem, std::string_view category,
                       std::string_view message) {
    // The ident stays the program name; subsystem and category travel in the line so that
    // journalctl/grep can select them without a structured log.
    syslog(LOG_USER | syslogPriority(level), "[%.*s:%.*s] %.*s", static_cast<int>(subsystem.size()),
           subsystem.data(), static_cast<int>(category.size()), category.data(),
           static_cast<int>(message.size()), message.data());
}

}  // namespace velmora
