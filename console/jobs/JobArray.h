#pragma once

#include "console/jobs/Job.h"
#include "console/jobs/JobDispatcher.h"
#include "console/service/ProfileSection.h"

#include <pugixml.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace velmora::console {

// Receives the job list's change notices, on the main thread.
class JobArrayDelegate {
  public:
    virtual ~JobArrayDelegate() = default;
    // `added`: how many jobs just arrived; 0 for any other change.
    virtual void jobArray_Changed(int added) = 0;
};

// The console's list of incoming jobs, in the order they arrived. Lives on the main thread;
// workers get copies (Job::initWithJob).
//
// Service jobs and direct jobs are looked up separately: their ids come from different places
// (the service, and this list) and may be equal.
class JobArray : public ProfileSection {
  public:
    // Where job folders go (the profile folder, asked when a job is created, as it changes
    // with the signed-in user) and how the profile file is written after a direct job
    // completes.
    struct Environment {
        std::function<std::filesystem::path()> profileDir;
        std::function<void()> saveProfileConfig;
    };

    // At most this many direct jobs may be receiving pages at once.
    static constexpr int kMaxUploadingDirectJobs = 16;
    // When that many are, those that took no page range for this long are given up (with their
    // pages) for a new one: clients that vanish half way would otherwise lock out everyone.
    static constexpr std::chrono::minutes kStalledDirectJobAge{10};
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    JobArray(JobDispatcher& dispatcher, Environment environment);
    JobArray(const JobArray&) = delete;
    JobArray& operator=(const JobArray&) = delete;
    // What "now" is for stalled direct jobs (the steady clock unless set).
    void setClock(Clock clock) { clock_ = std::move(clock); }

    void addDelegate(JobArrayDelegate* delegate);
    void removeDelegate(JobArrayDelegate* delegate);
    void notifyDelegates(int added);

    size_t count() const { return array_.size(); }
    // Throws std::out_of_range for an index outside the list.
    Job& objectAtIndex(size_t index) { return *array_.at(index); }
    const Job& objectAtIndex(size_t index) const { return *array_.at(index); }
    void removeAllObjects();

    // The listed service job with that id, or nullptr. Never a direct job.
    Job* getJob(int serverId);
    // The listed direct job with that id, or nullptr. Never a service job.
    Job* getPtpJob(int serverId);
    // The listed job of that origin and id (for results of a worker's copy), or nullptr.
    Job* findJob(Job::Origin origin, int serverId);

    // Merges the "job" children of a service reply (or nothing for an empty node). A full
    // (not incremental) merge first drops every service job; direct jobs are never touched.
    void parse(pugi::xml_node element, bool incremental, bool notify);
    void clearNewForJob(Job& job);

    // Opens a direct job from the "data" element of a nearby client's request: only its first
    // "job" child counts. The new job's id, or nullopt when there is no "job" child, it is not
    // UTF-8 text throughout, or too many direct jobs are receiving pages already.
    std::optional<int> startReceivingPtpJob(pugi::xml_node data);
    // Where to store a page of a direct job that is receiving pages; nullopt otherwise.
    std::optional<std::string> receiveDirectPage(int pageNumber, int jobId);
    void directJobReceived(int jobId);

    // ProfileSection: the unfinished direct jobs.
    void updateFromConfig(pugi::xml_node section) override;
    void saveToConfig(pugi::xml_node root) const override;

    int32_t newJobs() const { return newJobs_; }

  private:
    using Index = std::unordered_map<int, Job*>;

    Index& indexFor(Job::Origin origin);
    Job& append(Job::Origin origin, int serverId);
    int mergeJobs(pugi::xml_node element, Job::Origin origin);
    void mergeDirectJob(pugi::xml_node job);
    void removeServiceJobs();
    bool directFolderExists(int id) const;
    int smallestFreeDirectId() const;
    int uploadingDirectJobs() const;
    void noteDirectJobActivity(int id);
    void dropStalledDirectJobs();

    JobDispatcher& dispatcher_;
    Environment environment_;
    std::vector<JobArrayDelegate*> delegates_;
    std::vector<std::unique_ptr<Job>> array_;
    Index serviceJobs_;
    Index directJobs_;
    int32_t newJobs_ = 0;
    Clock clock_ = [] { return std::chrono::steady_clock::now(); };
    // When each direct job still receiving pages last took a range (or was opened or restored).
    std::unordered_map<int, std::chrono::steady_clock::time_point> directJobActivity_;
    // Ids of direct jobs given up: a request still under way for one of them must never reach
    // a new job of the same id, so they are not handed out again while the console runs.
    std::unordered_set<int> retiredDirectIds_;
};

}  // namespace velmora::console
