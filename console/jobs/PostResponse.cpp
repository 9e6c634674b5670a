#include "console/jobs/PostResponse.h"
#include "console/jobs/DirectServerLog.h"

#include "core/Deployment.h"
#include "platform/FileIo.h"
#include "platform/Logger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace velmora::console {

PostResponse::~PostResponse() {
    rollBack();
    release();
}

std::optional<HttpResponse> PostResponse::headReceived(std::optional<uint64_t> contentLength) {
    if (std::optional<HttpResponse> refused = checkHeaders(contentLength))
        return refused;
    return openPageFile();
}

std::optional<HttpResponse> PostResponse::checkHeaders(std::optional<uint64_t> contentLength) {
    const std::optional<std::string_view> job = headerForKey("td-job");
    const std::optional<int> jobId = job ? DirectPageRequest::parseJobId(*job) : std::nullopt;
    if (!jobId)
        return HttpResponse::withStatus(500);
    jobId_ = *jobId;

    const std::optional<std::string_view> page = headerForKey("td-page");
    if (!page)
        return HttpResponse::withStatus(400);
    const auto numbers = DirectPageRequest::parsePage(*page);
    if (!numbers)
        return HttpResponse::withStatus(400);
    pageNumber_ = numbers->first;
    pageCount_ = numbers->second;

    if (const std::optional<std::string_view> range = headerForKey("content-range")) {
        range_ = DirectPageRequest::parseContentRange(*range);
        if (!range_)
            return HttpResponse::withStatus(400);
        if (range_->length() > kMaxRange)
            return HttpResponse::withStatus(413);
        if (contentLength && *contentLength != static_cast<uint64_t>(range_->length()))
            return HttpResponse::withStatus(500);
    } else if (contentLength && *contentLength > static_cast<uint64_t>(kMaxRange)) {
        return HttpResponse::withStatus(413);
    }
    return std::nullopt;
}

std::optional<HttpResponse> PostResponse::openPageFile() {
    const std::optional<std::string> path = context().jobs.receiveDirectPage(pageNumber_, jobId_);
    if (!path)
        return HttpResponse::withStatus(500);
    if (!context().pagesBeingWritten.insert(*path).second)
        return HttpResponse::withStatus(500);
    path_ = *path;
    const int64_t first = range_ ? range_->first : 0;

    file_ = UniqueFd(::open(path_.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (file_) {
        struct stat info {};
        if (::fstat(file_.get(), &info) != 0 || !S_ISREG(info.st_mode))
            return refuse(500, "not a plain file");
        if (info.st_size != first)
            return refuse(500, "the range does not start where the stored part ends");
    } else {
        if (errno != ENOENT)
            return refuse(500, std::strerror(errno));
        // A missing file takes only its first range: a later one would land at offset 0.
        if (first != 0)
            return refuse(500, "the page's first range has not arrived");
        std::error_code error;
        std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), error);
        if (error)
            return refuse(500, error.message());
        file_ = UniqueFd(
            ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!file_)
            return refuse(500, std::strerror(errno));
        created_ = true;
    }
    touched_ = true;
    if (::lseek(file_.get(), first, SEEK_SET) != first)
        return refuse(500, std::strerror(errno));
    return std::nullopt;
}

std::optional<HttpResponse> PostResponse::receiveBody(std::string_view bytes) {
    if (range_ && written_ + static_cast<int64_t>(bytes.size()) > range_->length())
        return refuse(500, "the body is longer than its range");
    if (!writeFully(file_.get(), bytes.data(), bytes.size()))
        return refuse(500, std::strerror(errno));
    written_ += static_cast<int64_t>(bytes.size());
    return std::nullopt;
}

HttpResponse PostResponse::startResponse() {
    if (range_ && written_ != range_->length())
        return refuse(500, "the body is shorter than its range");
    if (!file_.close())
        return refuse(500, std::strerror(errno));
    // The job may have been completed or dropped by another request while this body arrived.
    if (!jobStillUploading())
        return refuse(500, "the job no longer takes pages");
    touched_ = false;
    release();

    const bool lastPage = pageNumber_ == pageCount_ || pageCount_ == 0;
    const bool lastRange = !range_ || range_->last == range_->total - 1;
    if (lastPage && lastRange)
        context().jobs.directJobReceived(jobId_);
    return HttpResponse::withStatus(200);
}

void PostResponse::abandon() {
    rollBack();
    release();
}

bool PostResponse::jobStillUploading() {
    const Job* job = context().jobs.getPtpJob(jobId_);
    return job != nullptr && job->status() == Job::kUploading;
}

HttpResponse PostResponse::refuse(int status, std::string_view why) {
    serverLog().error("Page {} of direct job {} not stored: {}", pageNumber_, jobId_, why);
    rollBack();
    release();
    return HttpResponse::withStatus(status);
}

void PostResponse::rollBack() {
    if (!touched_)
        return;
    touched_ = false;
    file_.reset();
    if (created_) {
        ::unlink(path_.c_str());
    } else if (::truncate(path_.c_str(), range_ ? range_->first : 0) != 0) {
        serverLog().error("Cannot cut {} back: {}", path_, std::strerror(errno));
    }
}

void PostResponse::release() {
    if (!path_.empty())
        context().pagesBeingWritten.erase(path_);
    path_.clear();
}

}  // namespace velmora::console
