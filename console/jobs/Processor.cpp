#include "console/jobs/Processor.h"

#include "console/jobs/JobArray.h"
#include "console/jobs/JobPrinter.h"
#include "console/jobs/LocalPrinterArray.h"
#include "console/jobs/PageDecoder.h"
#include "core/Deployment.h"
#include "core/account/Permission.h"
#include "core/account/PermissionArray.h"
#include "core/model/PrinterMasks.h"
#include "core/net/InetProvider.h"
#include "core/xml/XmlHelpers.h"
#include "platform/RunLoop.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

namespace velmora::console {

namespace {

namespace fs = std::filesystem;

// Status codes of "UpdateJob" sent by the printing side.
constexpr int kReportPrinted = 3;
constexpr int kReportRejected = -2;

bool fileExists(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::exists(fs::symlink_status(path, ec));
}

bool removeIfPresent(const std::string& path) {
    std::error_code ec;
    fs::remove(path, ec);
    return !ec;
}

bool renameFile(const std::string& from, const std::string& to) {
    std::error_code ec;
    fs::rename(from, to, ec);
    return !ec;
}

// Page files are named by page number: two pages under one number would share one file, and
// the second would print the first's image.
bool pageNumbersRepeat(const Job& job) {
    std::set<int> seen;
    for (const auto& page : job.pages()) {
        if (!seen.insert(page.number()).second)
            return true;
    }
    return false;
}

}  // namespace

Processor::Processor(Collaborators collaborators)
    : with_(collaborators),
      logger_(std::string(deployment::kLogSubsystem), "processor"),
      downloadWorker_([this] { downloadLoop(); }),
      printWorker_([this] { printLoop(); }) {}

Processor::~Processor() {
    quitting_ = true;
    for (WorkQueue* queue : {&downloadQueue_, &printQueue_}) {
        std::lock_guard lock(queue->mutex);
        queue->condition.notify_all();
    }
    downloadWorker_.join();
    printWorker_.join();
}

void Processor::addDelegate(ProcessorDelegate* delegate) {
    delegates_.push_back(delegate);
}

void Processor::removeDelegate(ProcessorDelegate* delegate) {
    std::erase(delegates_, delegate);
}

void Processor::setStatus(int32_t status, const std::optional<std::string>& error,
                          Job::Origin origin, int jobId) {
    Job* job = with_.jobs.findJob(origin, jobId);
    if (job == nullptr)
        return;
    job->setStatus(status);
    job->setError(error.value_or(""));
    if (status == Job::kDone && job->isNew())
        with_.jobs.clearNewForJob(*job);
    // A delegate may change the list; it gets the job it was told about, looked up again.
    const std::vector<ProcessorDelegate*> delegates = delegates_;
    for (ProcessorDelegate* delegate : delegates) {
        if (const Job* current = with_.jobs.findJob(origin, jobId))
            delegate->processor_ChangedJob(*current);
    }
}

void Processor::reject(Job& job) {
    const Key key = keyOf(job);
    if (const auto it = inFlight_.find(key); it != inFlight_.end()) {
        if (!withdraw(key)) {
            it->second.rejectPending = true;
            return;
        }
        inFlight_.erase(it);
    }
    rejectNow(job);
}

bool Processor::withdraw(const Key& key) {
    for (WorkQueue* queue : {&downloadQueue_, &printQueue_}) {
        std::lock_guard lock(queue->mutex);
        const auto it = std::find_if(queue->jobs.begin(), queue->jobs.end(),
                                     [&](const Job& copy) { return keyOf(copy) == key; });
        if (it != queue->jobs.end()) {
            queue->jobs.erase(it);
            return true;
        }
    }
    return false;
}

void Processor::rejectNow(Job& job) {
    const Job::Origin origin = job.origin();
    const int id = job.serverId();
    const fs::path jobDir = job.getJobDir();
    if (!job.isPTP()) {
        std::string error;
        if (!with_.inetProvider.changeJob(id, kReportRejected, error))
            setStatus(Job::kError, error, origin, id);
    }
    if (!removeFlatDirectory(jobDir))
        setStatus(Job::kError, "Failed to remove job dir", origin, id);
    setStatus(Job::kRejected, origin, id);
}

bool Processor::waitsForPassword(const Job& job) {
    if (job.encryption() != kEncryptionAes || !job.encryptKey().empty() ||
        job.status() != Job::kWaiting || job.pages().empty())
        return false;
    for (int index = 0; index < static_cast<int>(job.pages().size()); ++index) {
        if (!fileExists(job.getFileNameForPage(index, true)) &&
            !fileExists(job.getFileNameForPage(index, false)))
            return false;
    }
    return true;
}

void Processor::dispatchJobs() {
    for (size_t index = 0; index < with_.jobs.count(); ++index) {
        Job& job = with_.jobs.objectAtIndex(index);
        const int permission =
            with_.permissions.getPermissionFor(job.isPTP() ? -1 : job.sender().serverId());
        if (permission == Permission::kAllow) {
            if (!waitsForPassword(job))
                job.setApproved(true);
        } else if (permission == Permission::kBlock) {
            reject(job);
            continue;
        }
        if (inFlight_.contains(keyOf(job)) || !job.approved())
            continue;
        if (job.status() == Job::kWaiting)
            enqueue(downloadQueue_, job, Job::kDownloading);
        else if (job.status() == Job::kReady)
            enqueue(printQueue_, job, Job::kPrinting);
    }
}

void Processor::enqueue(WorkQueue& queue, Job& job, int32_t status) {
    const Key key = keyOf(job);
    setStatus(status, key.first, key.second);
    // The delegates may have changed the list; queue what it holds now.
    Job* listed = with_.jobs.findJob(key.first, key.second);
    if (listed == nullptr || listed->status() != status)
        return;
    inFlight_[key] = InFlight{status};
    std::lock_guard lock(queue.mutex);
    queue.jobs.push_back(Job::initWithJob(*listed));
    queue.condition.notify_one();
}

void Processor::stop() {
    for (WorkQueue* queue : {&downloadQueue_, &printQueue_}) {
        std::deque<Job> dropped;
        {
            std::lock_guard lock(queue->mutex);
            dropped.swap(queue->jobs);
        }
        for (const Job& copy : dropped)
            inFlight_.erase(keyOf(copy));
    }
}

void Processor::syncJobCopy(const Job& copy) {
    const Key key = keyOf(copy);
    const auto it = inFlight_.find(key);
    const std::optional<InFlight> flight =
        it == inFlight_.end() ? std::nullopt : std::optional<InFlight>(it->second);
    if (it != inFlight_.end())
        inFlight_.erase(it);
    Job* listed = with_.jobs.findJob(key.first, key.second);
    if (listed == nullptr)
        return;
    if (flight && flight->rejectPending) {
        rejectNow(*listed);
    } else if (flight && listed->status() == flight->dispatchedStatus) {
        listed->setEncryptKey(copy.encryptKey());
        listed->setApproved(copy.approved());
        setStatus(copy.status(), copy.error(), key.first, key.second);
    } else {
        // The listed job was replaced or changed while the copy was away: its result no
        // longer belongs to it.
        logger_.info("Result of job {} dropped: the job changed meanwhile", key.second);
    }
    dispatchJobs();
}

std::optional<Job> Processor::takeNext(WorkQueue& queue) {
    std::unique_lock lock(queue.mutex);
    queue.condition.wait(lock, [&] { return quitting_ || !queue.jobs.empty(); });
    if (quitting_)
        return std::nullopt;
    Job copy = std::move(queue.jobs.front());
    queue.jobs.pop_front();
    return copy;
}

void Processor::handBack(Job& copy) {
    with_.mainLoop.postAndWait([this, &copy] { syncJobCopy(copy); });
}

void Processor::downloadLoop() {
    while (std::optional<Job> copy = takeNext(downloadQueue_)) {
        downloadJob(*copy);
        handBack(*copy);
    }
}

void Processor::printLoop() {
    while (std::optional<Job> copy = takeNext(printQueue_)) {
        printJob(*copy);
        handBack(*copy);
    }
}

void Processor::downloadJob(Job& copy) {
    logger_.notice("Download job {}", copy.serverId());
    bool resolved = true;
    int32_t result = Job::kReady;
    if (pageNumbersRepeat(copy)) {
        copy.setError("Incorrect filename");
        result = Job::kError;
    }
    for (int index = 0; result != Job::kError && index < static_cast<int>(copy.pages().size());
         ++index) {
        if (quitting_ || !downloadPage(index, copy, resolved)) {
            result = Job::kError;
            break;
        }
    }
    if (result != Job::kError) {
        copy.setError("");
        if (!resolved) {
            result = Job::kWaiting;
            copy.setApproved(false);
        }
    }
    copy.setStatus(result);
}

bool Processor::downloadPage(int index, Job& copy, bool& encryptionResolved) const {
    const std::string plain = copy.getFileNameForPage(index, false);
    if (fileExists(plain))
        return true;
    const std::string encoded = copy.getFileNameForPage(index, true);
    if (encoded.empty()) {
        copy.setError("Incorrect filename");
        return false;
    }
    if (!fileExists(encoded)) {
        const std::string& url = copy.pages()[static_cast<size_t>(index)].url();
        if (url.empty()) {
            copy.setError("No URL");
            return false;
        }
        std::error_code ec;
        fs::create_directories(copy.getJobDir(), ec);
        if (ec) {
            copy.setError("Can't create job directory");
            return false;
        }
        PageDownloader downloader(&quitting_);
        downloader.setLimits(downloadLimits_);
        std::string error;
        switch (downloader.download(url, with_.inetProvider.dictionaryWithTDTokenHeader(),
                                    encoded + ".tmp", encoded, error)) {
            case PageDownloader::Outcome::kDone:
                break;
            case PageDownloader::Outcome::kTransferFailed:
                copy.setError(error);
                return false;
            case PageDownloader::Outcome::kFileFailed:
                copy.setError("Can't create job file");
                return false;
        }
    }
    if (copy.encryption() == kEncryptionAes0 && copy.encryptKey().empty() && !fetchKey(copy))
        return false;
    if (copy.encryption() != 0 && copy.encryptKey().empty()) {
        encryptionResolved = false;
        return true;
    }
    if (encoded == plain)
        return true;
    return decodePage(encoded, plain, copy);
}

bool Processor::fetchKey(Job& copy) const {
    std::string key;
    std::string error;
    if (!with_.inetProvider.getKey(key, copy.serverId(), deployment::jobPassword(copy.serverId()),
                                   false, error)) {
        copy.setError(error);
        return false;
    }
    // Kept, the key would be used for every later attempt without asking the service again.
    if (!PageDecoder::isUsableKey(key)) {
        logger_.error("Job {}: the service's key is not usable", copy.serverId());
        copy.setError("Decryption failed");
        return false;
    }
    copy.setEncryptKey(key);
    return true;
}

// The downloaded file stays untouched until the plain file is complete, so a step that fails
// can be tried again from the same bytes without downloading them again.
bool Processor::decodePage(const std::string& encoded, const std::string& plain, Job& copy) const {
    std::string source = encoded;
    std::string reason;
    const std::string decrypted = encoded + ".tmp";
    if (copy.encryption() != 0) {
        if (!PageDecoder::decrypt(encoded, decrypted, copy.encryptKey(), reason)) {
            logger_.error("Job {}: {}", copy.serverId(), reason);
            copy.setError("Decryption failed");
            return false;
        }
        source = decrypted;
    }
    if (copy.packed()) {
        const std::string unpacked = plain + ".tmp";
        const bool ok = PageDecoder::unpack(source, unpacked, reason);
        if (source == decrypted)
            removeIfPresent(decrypted);
        if (!ok) {
            logger_.error("Job {}: {}", copy.serverId(), reason);
            copy.setError("Unpacking failed");
            return false;
        }
        source = unpacked;
    }
    if (!removeIfPresent(plain) || !renameFile(source, plain)) {
        removeIfPresent(source);
        copy.setError("Processing failed");
        return false;
    }
    removeIfPresent(encoded);
    return true;
}

void Processor::printJob(Job& copy) {
    logger_.notice("Print job {}", copy.serverId());
    const auto fail = [&copy](const std::string& error) {
        copy.setStatus(Job::kError);
        copy.setError(error);
    };
    const std::optional<LocalPrinter> printer = with_.localPrinters.getPrinter(copy.printerId());
    if (!printer)
        return fail("Local printer not found");
    if (!with_.printer.printerExists(printer->localTitle()))
        return fail("Printer not found");
    std::string reason;
    if (!with_.printer.printJob(copy, printer->localTitle(), reason)) {
        logger_.error("Job {} was not printed: {}", copy.serverId(), reason);
        return fail("Job was not printed");
    }
    if (!copy.isPTP()) {
        std::string error;
        if (!with_.inetProvider.changeJob(copy.serverId(), kReportPrinted, error)) {
            logger_.error("Job {}: {}", copy.serverId(), error);
            return fail("Failed to finalize job");
        }
    }
    if (!removeFlatDirectory(copy.getJobDir()))
        return fail("Failed to remove job dir");
    copy.setStatus(Job::kDone);
    copy.setError("");
}

}  // namespace velmora::console
