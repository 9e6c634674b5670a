#pragma once

#include <string>
#include <string_view>

namespace velmora::backend {

// The scheduler reads the backend's standard error line by line; a carriage return or line
// feed inside a message would start a line of its own ("ERROR: ..." or "ATTR: ..."), so each
// is replaced by a space.
class StatusLine {
  public:
    static std::string format(std::string_view level, std::string_view message);
    static void write(std::string_view level, std::string_view message);
};

}  // namespace velmora::backend
