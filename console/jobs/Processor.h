#pragma once

#include "console/jobs/Job.h"
#include "console/jobs/JobDispatcher.h"
#include "console/jobs/PageDownloader.h"
#include "platform/Logger.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace velmora {
class InetProvider;
class PermissionArray;
class RunLoop;
}  // namespace velmora

namespace velmora::console {

class JobArray;
class JobPrinter;
class LocalPrinterArray;

// Receives every state change the processor makes to a listed job, on the main thread.
class ProcessorDelegate {
  public:
    virtual ~ProcessorDelegate() = default;
    virtual void processor_ChangedJob(const Job& job) = 0;
};

// Moves approved jobs of the job list through download and printing, each on a worker thread
// of its own. The main thread decides what runs and applies what comes back; workers only ever
// see their own copies of the jobs.
//
// A copy in a worker owns its job for as long as it is there: the same job is never queued
// again meanwhile, and a rejection that arrives meanwhile waits for the copy to return, so no
// folder disappears under a worker and no late result overwrites a decision taken since.
class Processor : public JobDispatcher {
  public:
    struct Collaborators {
        RunLoop& mainLoop;
        JobArray& jobs;
        const PermissionArray& permissions;
        const LocalPrinterArray& localPrinters;
        InetProvider& inetProvider;
        JobPrinter& printer;
    };

    // Starts both workers. The job list may be constructed before the processor (it only keeps
    // a reference); it is used from the first dispatch on.
    explicit Processor(Collaborators collaborators);
    // Joins the workers. Call it from the main thread once its run loop has stopped (a worker
    // waiting to hand its result back is then released), or from any other thread.
    ~Processor() override;
    Processor(const Processor&) = delete;
    Processor& operator=(const Processor&) = delete;

    void addDelegate(ProcessorDelegate* delegate);
    void removeDelegate(ProcessorDelegate* delegate);

    // Main thread only, like everything below but the workers.
    void setStatus(int32_t status, const std::optional<std::string>& error, Job::Origin origin,
                   int jobId);
    void setStatus(int32_t status, Job::Origin origin, int jobId) {
        setStatus(status, std::nullopt, origin, jobId);
    }
    void reject(Job& job);
    void dispatchJobs() override;
    void stop();
    void syncJobCopy(const Job& copy);

    // A job sent with the password only its sender knows, whose pages are all here but whose
    // key is not: it waits for the user, however often the list is dispatched.
    static bool waitsForPassword(const Job& job);

    // Worker side, public for the page tests: YES when the page needs nothing more from the
    // download worker. Runs on the calling thread.
    bool downloadPage(int index, Job& copy, bool& encryptionResolved) const;

    void setDownloadLimits(PageDownloader::Limits limits) { downloadLimits_ = limits; }

  private:
    using Key = std::pair<Job::Origin, int>;
    struct InFlight {
        int32_t dispatchedStatus;
        bool rejectPending = false;
    };
    struct WorkQueue {
        std::mutex mutex;
        std::condition_variable condition;
        std::deque<Job> jobs;
    };

    static Key keyOf(const Job& job) { return {job.origin(), job.serverId()}; }
    void enqueue(WorkQueue& queue, Job& job, int32_t status);
    void rejectNow(Job& job);
    // Takes a copy that no worker has started on out of its queue; false when none is queued.
    bool withdraw(const Key& key);
    std::optional<Job> takeNext(WorkQueue& queue);
    void handBack(Job& copy);
    void downloadLoop();
    void printLoop();
    void downloadJob(Job& copy);
    void printJob(Job& copy);
    bool fetchKey(Job& copy) const;
    bool decodePage(const std::string& encoded, const std::string& plain, Job& copy) const;

    Collaborators with_;
    Logger logger_;
    std::vector<ProcessorDelegate*> delegates_;
    std::map<Key, InFlight> inFlight_;
    PageDownloader::Limits downloadLimits_;
    std::atomic<bool> quitting_{false};
    WorkQueue downloadQueue_;
    WorkQueue printQueue_;
    // Last: they start once everything above exists.
    std::thread downloadWorker_;
    std::thread printWorker_;
};

}  // namespace velmora::console
