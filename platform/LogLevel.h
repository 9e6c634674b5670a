#pragma once

namespace velmora {

// The levels of the system log that the programs write at.
enum class LogLevel { Default, Info, Debug, Error };

const char* logLevelName(LogLevel level);

}  // namespace velmora
