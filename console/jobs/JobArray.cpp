#include "console/jobs/JobArray.h"

#include "core/xml/XmlHelpers.h"

#include <algorithm>
#include <utility>

namespace velmora::console {

namespace {

constexpr const char* kNearbyClientLogin = "Nearby client";
constexpr int kDirectSenderId = -1;

// Pages of a direct job are only the files that arrived here: addresses a nearby client (or an
// edited profile file) names are dropped, so no worker ever downloads from them.
void forgetPageAddresses(Job& job) {
    std::vector<Page>& pages = job.pages();
    if (pages.size() > static_cast<size_t>(Job::kMaxDirectPages))
        pages.resize(static_cast<size_t>(Job::kMaxDirectPages));
    for (Page& page : pages)
        page.setUrl("");
}

}  // namespace

JobArray::JobArray(JobDispatcher& dispatcher, Environment environment)
    : dispatcher_(dispatcher), environment_(std::move(environment)) {}

void JobArray::addDelegate(JobArrayDelegate* delegate) {
    delegates_.push_back(delegate);
}

void JobArray::removeDelegate(JobArrayDelegate* delegate) {
    std::erase(delegates_, delegate);
}

void JobArray::notifyDelegates(int added) {
    // A delegate may remove itself while being told.
    const std::vector<JobArrayDelegate*> delegates = delegates_;
    for (JobArrayDelegate* delegate : delegates)
        delegate->jobArray_Changed(added);
}

void JobArray::removeAllObjects() {
    array_.clear();
    serviceJobs_.clear();
    directJobs_.clear();
    newJobs_ = 0;
    notifyDelegates(0);
}

JobArray::Index& JobArray::indexFor(Job::Origin origin) {
    return origin == Job::Origin::kDirect ? directJobs_ : serviceJobs_;
}

Job* JobArray::findJob(Job::Origin origin, int serverId) {
    Index& index = indexFor(origin);
    const auto found = index.find(serverId);
    return found != index.end() ? found->second : nullptr;
}

Job* JobArray::getJob(int serverId) {
    return findJob(Job::Origin::kService, serverId);
}

Job* JobArray::getPtpJob(int serverId) {
    return findJob(Job::Origin::kDirect, serverId);
}

Job& JobArray::append(Job::Origin origin, int serverId) {
    const std::filesystem::path profileDir =
        environment_.profileDir ? environment_.profileDir() : std::filesystem::path();
    array_.push_back(std::make_unique<Job>(origin, profileDir));
    Job& job = *array_.back();
    job.setServerId(serverId);
    indexFor(origin)[serverId] = &job;
    return job;
}

void JobArray::removeServiceJobs() {
    const size_t before = array_.size();
    std::erase_if(array_, [this](const std::unique_ptr<Job>& job) {
        if (job->isPTP())
            return false;
        if (job->isNew())
            --newJobs_;
        return true;
    });
    serviceJobs_.clear();
    if (array_.size() != before)
        notifyDelegates(0);
}

int JobArray::mergeJobs(pugi::xml_node element, Job::Origin origin) {
    int added = 0;
    for (pugi::xml_node child : element.children("job")) {
        const int id = intFromText(getAttribute(child, "id"));
        if (id == 0)
            continue;
        Job* job = findJob(origin, id);
        if (job == nullptr) {
            job = &append(origin, id);
            job->parse(child);
            job->setIsNew(true);
            ++newJobs_;
            ++added;
        } else {
            job->parse(child);
        }
        if (origin == Job::Origin::kDirect)
            forgetPageAddresses(*job);
    }
    return added;
}

void JobArray::parse(pugi::xml_node element, bool incremental, bool notify) {
    if (!incremental)
        removeServiceJobs();
    if (!element)
        return;
    const int added = mergeJobs(element, Job::Origin::kService);
    if (notify)
        notifyDelegates(added);
    dispatcher_.dispatchJobs();
}

void JobArray::clearNewForJob(Job& job) {
    // Only a job that was unseen counts down, or the count drifts below the unseen jobs.
    if (!job.isNew())
        return;
    job.setIsNew(false);
    if (newJobs_ >= 1) {
        --newJobs_;
        notifyDelegates(0);
    }
}

int JobArray::smallestFreeDirectId() const {
    int id = 1;
    while (directJobs_.contains(id))
        ++id;
    return id;
}

int JobArray::uploadingDirectJobs() const {
    return static_cast<int>(
        std::count_if(directJobs_.begin(), directJobs_.end(),
                      [](const auto& entry) { return entry.second->status() == Job::kUploading; }));
}

std::optional<int> JobArray::startReceivingPtpJob(pugi::xml_node data) {
    const pugi::xml_node first = data.child("job");
    if (!first || uploadingDirectJobs() >= kMaxUploadingDirectJobs)
        return std::nullopt;
    const int id = smallestFreeDirectId();

    // Only the first job element is taken, in a document of its own: whatever else the client
    // sent is never merged.
    pugi::xml_document document;
    pugi::xml_node jobs = document.append_child("jobs");
    pugi::xml_node job = jobs.append_copy(first);
    setAttribute(job, "id", id);
    pugi::xml_node person = job.child("printing-person");
    if (!person)
        person = job.append_child("printing-person");
    setAttribute(person, "id", kDirectSenderId);
    if (!person.child("login"))
        appendElement(person, "login", kNearbyClientLogin);
    // The client's page list is not taken: pages are listed as their files arrive.
    while (pugi::xml_node page = job.child("page"))
        job.remove_child(page);

    mergeJobs(jobs, Job::Origin::kDirect);
    getPtpJob(id)->setStatus(Job::kUploading);
    dispatcher_.dispatchJobs();
    return id;
}

std::optional<std::string> JobArray::receiveDirectPage(int pageNumber, int jobId) {
    Job* job = getPtpJob(jobId);
    if (job == nullptr || job->status() != Job::kUploading)
        return std::nullopt;
    std::string path = job->receiveDirectPage(pageNumber);
    if (path.empty())
        return std::nullopt;
    return path;
}

void JobArray::directJobReceived(int jobId) {
    // Only a job still receiving pages completes: a late call cannot send a printed job back.
    Job* job = getPtpJob(jobId);
    if (job == nullptr || job->status() != Job::kUploading)
        return;
    job->setStatus(Job::kReady);
    notifyDelegates(1);
    if (environment_.saveProfileConfig)
        environment_.saveProfileConfig();
    dispatcher_.dispatchJobs();
}

void JobArray::updateFromConfig(pugi::xml_node section) {
    if (!section)
        return;
    mergeJobs(section, Job::Origin::kDirect);
    dispatcher_.dispatchJobs();
}

void JobArray::saveToConfig(pugi::xml_node root) const {
    pugi::xml_node jobs = appendElement(root, "jobs");
    for (const std::unique_ptr<Job>& job : array_) {
        if (job->isPTP() && job->status() != Job::kDone && job->status() != Job::kRejected)
            job->getConfigXml(jobs);
    }
}

}  // namespace velmora::console
