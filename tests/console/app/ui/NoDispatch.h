#pragma once

#include "console/jobs/JobDispatcher.h"

namespace velmora::test {

// The dispatcher of a job list in windows tested without a processor: nothing is sent to print.
class NoDispatch : public console::JobDispatcher {
  public:
    void dispatchJobs() override {}
};

}  // namespace velmora::test
