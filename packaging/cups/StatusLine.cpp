#include "packaging/cups/StatusLine.h"

#include <unistd.h>

#include "platform/FileIo.h"

namespace velmora::backend {

std::string StatusLine::format(std::string_view level, std::string_view message) {
    std::string line = std::string(level) + ": ";
    for (char c : message)
        line += (c == '\r' || c == '\n' || c == '\0') ? ' ' : c;
    return line + "\n";
}

void StatusLine::write(std::string_view level, std::string_view message) {
    const std::string line = format(level, message);
    writeFully(STDERR_FILENO, line.data(), line.size());
}

}  // namespace velmora::backend
