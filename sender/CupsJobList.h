#pragma once

#include <string>
#include <vector>

namespace velmora {

// The print system's active jobs of every user on every queue, as libcups lists them.
class CupsJobList {
  public:
    struct Job {
        std::string queue;
        std::string title;
        int id = 0;
    };

    // Empty when there are none, or with `error` set when the scheduler could not be asked.
    static std::vector<Job> activeJobs(std::string& error);
};

}  // namespace velmora
