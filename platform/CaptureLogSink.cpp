#include "CaptureLogSink.h"

namespace velmora {

void CaptureLogSink::write(LogLevel level, std::string_view subsystem, std::string_view category,
                           std::string_view message) {
    std::lock_guard lock(mutex_);
    entries_.push_back(
        {level, std::string(subsystem), std::string(category), std::string(message)});
}

std::vector<CaptureLogSink::Entry> CaptureLogSink::entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

std::vector<std::string> CaptureLogSink::messages() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& entry : entries_)
        out.push_back(entry.message);
    return out;
}

std::vector<std::string> CaptureLogSink::messages(LogLevel level) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& entry : entries_) {
        if (entry.level == level)
            out.push_back(entry.message);
    }
    return out;
}

bool CaptureLogSink::contains(LogLevel level, std::string_view message) const {
    std::lock_guard lock(mutex_);
    for (const auto& entry : entries_) {
        if (entry.level == level && entry.message == message)
            return true;
    }
    return false;
}

void CaptureLogSink::clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

}  // namespace velmora
