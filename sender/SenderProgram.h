#pragma once

#include <filesystem>
#include <span>
#include <string>

namespace velmora {

// The program around one Sender: reads the arguments, runs the job, and always ends with exit
// status 0 (the outcome is in the message file). Writes nothing to standard output.
class SenderProgram {
  public:
    // `arguments` without the program name.
    static int run(std::span<const std::string> arguments, const std::filesystem::path& systemDir);
};

}  // namespace velmora
