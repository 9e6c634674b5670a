#pragma once

namespace velmora::console {

// What the job list asks of the job processor: look at the listed jobs again and start whatever
// became ready (downloads, printing). Called on the main thread after every merge.
class JobDispatcher {
  public:
    virtual ~JobDispatcher() = default;
    virtual void dispatchJobs() = 0;
};

}  // namespace velmora::console
