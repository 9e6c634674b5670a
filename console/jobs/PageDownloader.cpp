#include "console/jobs/PageDownloader.h"

#include "console/jobs/PageDecoder.h"
#include "core/net/CurlHeaderList.h"
#include "core/net/HttpClient.h"
#include "core/net/InetProvider.h"
#include "platform/FileIo.h"
#include "platform/UniqueFd.h"

#include <curl/curl.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <system_error>

namespace velmora::console {

namespace {

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;

struct FileSink {
    int fd;
    uint64_t limit;
    uint64_t written = 0;
    bool tooLarge = false;
    bool writeFailed = false;
};

size_t writeToFile(char* data, size_t size, size_t count, void* context) {
    auto* sink = static_cast<FileSink*>(context);
    const size_t bytes = size * count;
    if (sink->written + bytes > sink->limit) {
        sink->tooLarge = true;
        return 0;
    }
    if (!writeFully(sink->fd, data, bytes)) {
        sink->writeFailed = true;
        return 0;
    }
    sink->written += bytes;
    return bytes;
}

int checkCancelled(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* cancelled = static_cast<const std::atomic<bool>*>(context);
    return cancelled != nullptr && cancelled->load() ? 1 : 0;
}

void removeQuietly(const std::filesystem::path& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

}  // namespace

PageDownloader::Outcome PageDownloader::download(const std::string& url, const Headers& headers,
                                                 const std::filesystem::path& partial,
                                                 const std::filesystem::path& target,
                                                 std::string& error) const {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    // Only the headers given, as for every other download of the session.
    Headers complete = headers;
    complete["User-Agent"] = InetProvider::userAgent();
    CurlHeaderList headerList;
    std::string headerError;
    if (!headerList.build(complete, true, headerError)) {
        error = "Invalid header";
        return Outcome::kTransferFailed;
    }
    CurlHandle curl(curl_easy_init());
    if (!curl) {
        error = "The HTTP client could not be started.";
        return Outcome::kTransferFailed;
    }
    UniqueFd file(PageDecoder::createFresh(partial));
    if (!file)
        return Outcome::kFileFailed;

    FileSink sink{file.get(), limits_.maxBytes};
    char errorBuffer[CURL_ERROR_SIZE] = {};
    const long idleSeconds = std::max(1L, std::lround(limits_.idleSeconds));
    CURL* handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headerList.get());
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, writeToFile);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, idleSeconds);
    // Silence, not the length of the whole transfer, ends a download: a large page on a slow
    // line keeps going as long as bytes keep arriving.
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, idleSeconds);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS,
                     static_cast<long>(std::clamp(limits_.overallSeconds, 0.001, 86400.0) * 1000));
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, checkCancelled);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, cancelled_);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    // Stop at once when the announced length is already too large.
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits_.maxBytes));

    const CURLcode result = curl_easy_perform(handle);
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);

    Outcome outcome = Outcome::kDone;
    if (sink.writeFailed) {
        outcome = Outcome::kFileFailed;
    } else if (sink.tooLarge || result == CURLE_FILESIZE_EXCEEDED) {
        error = "The page is larger than " + std::to_string(limits_.maxBytes) + " bytes.";
        outcome = Outcome::kTransferFailed;
    } else if (result == CURLE_OPERATION_TIMEDOUT) {
        error = "The request timed out.";
        outcome = Outcome::kTransferFailed;
    } else if (result != CURLE_OK) {
        error = errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(result);
        outcome = Outcome::kTransferFailed;
    } else if (status != 200) {
        error = HttpClient::statusPhrase(status);
        outcome = Outcome::kTransferFailed;
    } else if (!file.close()) {
        outcome = Outcome::kFileFailed;
    } else {
        std::error_code renameError;
        std::filesystem::rename(partial, target, renameError);
        if (renameError)
            outcome = Outcome::kFileFailed;
    }
    if (outcome != Outcome::kDone)
        removeQuietly(partial);
    return outcome;
}

}  // namespace velmora::console
