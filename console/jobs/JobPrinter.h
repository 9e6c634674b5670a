#pragma once

#include <string>

namespace velmora::console {

class Job;

// How the print worker puts a job's plain page files on paper. Called on the print worker's
// thread, one job at a time.
class JobPrinter {
  public:
    virtual ~JobPrinter() = default;
    // Whether the print system still has a queue of that name.
    virtual bool printerExists(const std::string& printerName) = 0;
    // Prints every page of `job` on the queue; false, with the reason, when nothing was handed
    // to the print system (an unreadable page, a cancelled print panel, a refused job).
    virtual bool printJob(const Job& job, const std::string& printerName, std::string& reason) = 0;
};

}  // namespace velmora::console
