#include "sender/CupsJobList.h"

#include <cups/cups.h>

#include <memory>

namespace velmora {

namespace {

struct JobsDeleter {
    int count = 0;
    void operator()(cups_job_t* jobs) const { cupsFreeJobs(count, jobs); }
};

}  // namespace

std::vector<CupsJobList::Job> CupsJobList::activeJobs(std::string& error) {
    cups_job_t* raw = nullptr;
    // All queues, all users (not only the caller's jobs), active jobs only.
    const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &raw, nullptr, 0, CUPS_WHICHJOBS_ACTIVE);
    std::unique_ptr<cups_job_t, JobsDeleter> jobs(raw, JobsDeleter{count > 0 ? count : 0});
    std::vector<Job> list;
    if (count < 0) {
        const char* reason = cupsLastErrorString();
        error = reason != nullptr ? reason : "The print system's job list is not available";
        return list;
    }
    list.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const cups_job_t& job = jobs.get()[i];
        list.push_back(Job{job.dest != nullptr ? job.dest : "",
                           job.title != nullptr ? job.title : "", job.id});
    }
    return list;
}

}  // namespace velmora
