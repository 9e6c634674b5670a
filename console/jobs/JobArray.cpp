#include "console/jobs/JobArray.h"

#include "core/config/TextFile.h"
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

bool isUtf8Node(pugi::xml_node node) {
    if (!isValidUtf8(node.name()) || !isValidUtf8(node.value()))
        return false;
    for (pugi::xml_attribute attribute : node.attributes()) {
        if (!isValidUtf8(attribute.name()) || !isValidUtf8(attribute.value()))
            return false;
    }
    return true;
}

// Direct jobs are kept in the profile file, which is read back only when it is UTF-8: one
// stray byte from a nearby client would cost every saved job at the next start. Walked without
// recursion, as the client chooses how deep the element goes.
bool isUtf8Element(pugi::xml_node element) {
    pugi::xml_node node = element;
    while (node) {
        if (!isUtf8Node(node))
            return false;
        if (node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (node != element && !node.next_sibling())
            node = node.parent();
        if (node == element)
            break;
        node = node.next_sibling();
    }
    return true;
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
    // A delegate may remove itself or another one while being told; one removed meanwhile may
    // be gone and is not told.
    const std::vector<JobArrayDelegate*> delegates = delegates_;
    for (JobArrayDelegate* delegate : delegates) {
        if (std::find(delegates_.begin(), delegates_.end(), delegate) != delegates_.end())
            delegate->jobArray_Changed(added);
    }
}

void JobArray::removeAllObjects() {
    array_.clear();
    serviceJobs_.clear();
    directJobs_.clear();
    directJobActivity_.clear();
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
        const int id = strictIntFromText(getAttribute(child, "id")).value_or(0);
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

bool JobArray::directFolderExists(int id) const {
    // Signing out empties the list, but a saved job's pages stay in its folder: a new job must
    // not write into it.
    const std::filesystem::path profileDir =
        environment_.profileDir ? environment_.profileDir() : std::filesystem::path();
    if (profileDir.empty())
        return false;
    std::error_code error;
    const auto folder = profileDir / (Job::kDirectFolderPrefix + std::to_string(id));
    return std::filesystem::symlink_status(folder, error).type() !=
           std::filesystem::file_type::not_found;
}

int JobArray::smallestFreeDirectId() const {
    int id = 1;
    while (directJobs_.contains(id) || retiredDirectIds_.contains(id) || directFolderExists(id))
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
    if (!first || !isUtf8Element(first))
        return std::nullopt;
    if (uploadingDirectJobs() >= kMaxUploadingDirectJobs)
        dropStalledDirectJobs();
    if (uploadingDirectJobs() >= kMaxUploadingDirectJobs)
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
    noteDirectJobActivity(id);
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
    noteDirectJobActivity(jobId);
    return path;
}

void JobArray::noteDirectJobActivity(int id) {
    directJobActivity_[id] = clock_();
}

void JobArray::dropStalledDirectJobs() {
    const auto now = clock_();
    std::vector<std::pair<int, Job*>> stalled;
    for (const auto& [id, job] : directJobs_) {
        if (job->status() != Job::kUploading)
            continue;
        // A job restored from the profile has had no chance yet: its time starts now.
        const auto [activity, restored] = directJobActivity_.try_emplace(id, now);
        if (now - activity->second >= kStalledDirectJobAge)
            stalled.emplace_back(id, job);
    }
    if (stalled.empty())
        return;
    for (const auto& [id, job] : stalled) {
        std::error_code error;
        if (const std::filesystem::path folder = job->getJobDir(); !folder.empty())
            std::filesystem::remove_all(folder, error);
        directJobs_.erase(id);
        directJobActivity_.erase(id);
        retiredDirectIds_.insert(id);
        if (job->isNew())
            --newJobs_;
        std::erase_if(array_,
                      [job](const std::unique_ptr<Job>& owned) { return owned.get() == job; });
    }
    notifyDelegates(0);
    if (environment_.saveProfileConfig)
        environment_.saveProfileConfig();
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
    // A listed direct job was opened by a nearby client since the profile was saved: a saved job
    // with its id (one whose pages never arrived, or the id would not have been given out) is
    // not merged into it.
    pugi::xml_document unlisted;
    pugi::xml_node jobs = unlisted.append_child("jobs");
    for (pugi::xml_node saved : section.children("job")) {
        if (!directJobs_.contains(intFromText(getAttribute(saved, "id"))))
            jobs.append_copy(saved);
    }
    mergeJobs(jobs, Job::Origin::kDirect);
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
