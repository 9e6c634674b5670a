#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace velmora::console {

// Runs one program from an argument vector (posix_spawn, never a shell) and waits for it, with
// a time-out after which it is killed. Only that child is ever waited for.
class ProcessRunner {
  public:
    struct Result {
        bool started = false;
        bool timedOut = false;
        int exitStatus = -1;  // -1 when it did not exit normally
        std::string output;   // standard output and error together, cut at kMaxOutput
        bool succeeded() const { return started && !timedOut && exitStatus == 0; }
    };

    static constexpr size_t kMaxOutput = 64 * 1024;

    // `arguments[0]` is the program's full path; it gets the process's environment.
    static Result run(const std::vector<std::string>& arguments, std::chrono::milliseconds timeout);
};

}  // namespace velmora::console
