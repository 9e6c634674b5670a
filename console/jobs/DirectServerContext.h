#pragma once

#include "console/jobs/JobArray.h"
#include "console/jobs/LocalPrinterArray.h"

#include <set>
#include <string>

namespace velmora::console {

// What the direct print server's handlers work with; all of it lives on the main thread.
struct DirectServerContext {
    JobArray& jobs;
    LocalPrinterArray& localPrinters;
    // Page files a "/post" is writing right now: a second range for the same file waits its
    // turn by being refused, so two connections never write one file at once.
    std::set<std::string> pagesBeingWritten;
};

}  // namespace velmora::console
