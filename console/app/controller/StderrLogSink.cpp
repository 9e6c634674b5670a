#include "console/app/controller/StderrLogSink.h"

#include "platform/FileIo.h"

namespace velmora::console {

StderrLogSink::StderrLogSink(std::shared_ptr<LogSink> next, int fd, std::string program)
    : next_(std::move(next)), fd_(fd), program_(std::move(program)) {}

void StderrLogSink::write(LogLevel level, std::string_view subsystem, std::string_view category,
                          std::string_view message) {
    if (next_)
        next_->write(level, subsystem, category, message);
    const std::string text = line(program_, level, category, message);
    std::lock_guard lock(mutex_);
    writeFully(fd_, text.data(), text.size());
}

size_t StderrLogSink::cutPoint(std::string_view message) {
    if (message.size() <= kMaxMessageBytes)
        return message.size();
    // Back to the start of a UTF-8 character, so the line stays valid text.
    size_t end = kMaxMessageBytes;
    while (end > 0 && (static_cast<unsigned char>(message[end]) & 0xC0) == 0x80)
        --end;
    return end;
}

std::string StderrLogSink::line(std::string_view program, LogLevel level, std::string_view category,
                                std::string_view message) {
    const std::string_view shown = message.substr(0, cutPoint(message));
    std::string text;
    text.reserve(program.size() + category.size() + shown.size() + 64);
    text.append(program).append(": [").append(category).append("] ");
    text.append(logLevelName(level)).append(": ");
    for (const char c : shown) {
        const auto byte = static_cast<unsigned char>(c);
        text.push_back(byte < 0x20 || byte == 0x7f ? '?' : c);
    }
    if (shown.size() < message.size())
        text.append(" [")
            .append(std::to_string(message.size() - shown.size()))
            .append(" more bytes not shown]");
    text.push_back('\n');
    return text;
}

}  // namespace velmora::console
