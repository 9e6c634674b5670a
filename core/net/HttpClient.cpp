#include "HttpClient.h"

#include "core/net/CurlHeaderList.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>

namespace velmora {

namespace {

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;
struct MultiDeleter {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;

// The text a caller shows when the peer stayed silent for the whole time-out.
constexpr const char* kTimedOut = "The request timed out.";
// A request without a usable time-out waits as long as the platform's default.
constexpr double kFallbackTimeoutSeconds = 60;

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct BodySink {
    CURL* handle;
    std::string* body;
    size_t limit;
    bool discard;
    long bodyOnlyForStatus;
    size_t discarded = 0;
    bool overflowed = false;
    bool discardLimitReached = false;
    size_t headerBytes = 0;
    bool headersOverflowed = false;
};

size_t appendBody(char* data, size_t size, size_t count, void* context) {
    auto* sink = static_cast<BodySink*>(context);
    const size_t bytes = size * count;
    if (sink->bodyOnlyForStatus != 0 && !sink->discard && sink->body->empty()) {
        long status = 0;
        curl_easy_getinfo(sink->handle, CURLINFO_RESPONSE_CODE, &status);
        sink->discard = status != sink->bodyOnlyForStatus;
    }
    if (sink->discard) {
        // An answer that never ends would otherwise hold the caller until the deadline.
        sink->discarded += bytes;
        if (sink->discarded > HttpClient::kMaxDiscardedBytes) {
            sink->discardLimitReached = true;
            return 0;
        }
        return bytes;
    }
    if (sink->body->size() + bytes > sink->limit) {
        sink->overflowed = true;
        return 0;  // makes curl stop with a write error
    }
    sink->body->append(data, bytes);
    return bytes;
}

// libcurl bounds the head of a reply but not the trailer lines after a chunked body, which it
// keeps in memory: a peer sending them for ever would grow the process until the deadline.
size_t countHeader(char*, size_t size, size_t count, void* context) {
    auto* sink = static_cast<BodySink*>(context);
    const size_t bytes = size * count;
    sink->headerBytes += bytes;
    if (sink->headerBytes > HttpClient::kMaxHeaderBytes) {
        sink->headersOverflowed = true;
        return 0;
    }
    return bytes;
}

// Keeps an easy handle attached to a multi handle for the length of one transfer.
class Attachment {
  public:
    Attachment(CURLM* multi, CURL* easy) : multi_(multi), easy_(easy) {
        attached_ = curl_multi_add_handle(multi_, easy_) == CURLM_OK;
    }
    ~Attachment() {
        if (attached_)
            curl_multi_remove_handle(multi_, easy_);
    }
    Attachment(const Attachment&) = delete;
    Attachment& operator=(const Attachment&) = delete;
    bool attached() const { return attached_; }

  private:
    CURLM* multi_;
    CURL* easy_;
    bool attached_ = false;
};

curl_off_t bytesMoved(CURL* handle) {
    curl_off_t down = 0;
    curl_off_t up = 0;
    curl_easy_getinfo(handle, CURLINFO_SIZE_DOWNLOAD_T, &down);
    curl_easy_getinfo(handle, CURLINFO_SIZE_UPLOAD_T, &up);
    return down + up;
}

std::chrono::steady_clock::duration secondsOr(double seconds, double fallback) {
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(seconds > 0 ? seconds : fallback));
}

// libcurl may stay inside one curl_multi_perform call for as long as a proxy keeps streaming
// the refusal of a tunnel; only its progress callback is still called there.
int stopAfterDeadline(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* deadline = static_cast<const std::chrono::steady_clock::time_point*>(context);
    return std::chrono::steady_clock::now() >= *deadline ? 1 : 0;
}

// Runs the transfer until it ends, nothing has moved in either direction for `idleSeconds`, or
// `deadlineSeconds` have passed since it started, whichever comes first. The idle limit alone
// would let a peer that drips one byte now and then hold the caller for ever.
CURLcode transferWithTimeouts(CURL* handle, double idleSeconds, double deadlineSeconds,
                              bool& timedOut) {
    using Clock = std::chrono::steady_clock;
    timedOut = false;
    const auto idleLimit = secondsOr(idleSeconds, kFallbackTimeoutSeconds);
    const auto deadline =
        Clock::now() + secondsOr(deadlineSeconds, HttpClient::kDefaultDeadlineSeconds);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, stopAfterDeadline);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &deadline);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    MultiHandle multi(curl_multi_init());
    if (!multi)
        return CURLE_OUT_OF_MEMORY;
    Attachment attachment(multi.get(), handle);
    if (!attachment.attached())
        return CURLE_FAILED_INIT;

    auto lastProgress = Clock::now();
    curl_off_t lastBytes = 0;
    int running = 1;
    while (running != 0) {
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK)
            return CURLE_FAILED_INIT;
        if (running == 0)
            break;
        const auto now = Clock::now();
        if (const curl_off_t bytes = bytesMoved(handle); bytes != lastBytes) {
            lastBytes = bytes;
            lastProgress = now;
        }
        const auto remaining = std::min(lastProgress + idleLimit, deadline) - now;
        if (remaining <= Clock::duration::zero()) {
            timedOut = true;
            return CURLE_OPERATION_TIMEDOUT;
        }
        const auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(remaining).count();
        if (curl_multi_poll(multi.get(), nullptr, 0,
                            static_cast<int>(std::min<long long>(waitMs, 1000)),
                            nullptr) != CURLM_OK)
            return CURLE_FAILED_INIT;
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
        if (message->msg != CURLMSG_DONE || message->easy_handle != handle)
            continue;
        timedOut = message->data.result == CURLE_ABORTED_BY_CALLBACK;
        return timedOut ? CURLE_OPERATION_TIMEDOUT : message->data.result;
    }
    return CURLE_FAILED_INIT;
}

// An answer counts only when the whole request went out: a peer that answers after the head
// and closes has not taken the body, and libcurl then reports the transfer as complete. A
// discarded answer cut short after its first bytes is no different.
bool requestFullySent(CURL* handle, const HttpClient::Request& request) {
    curl_off_t sent = 0;
    curl_easy_getinfo(handle, CURLINFO_SIZE_UPLOAD_T, &sent);
    return request.method != "POST" || sent == static_cast<curl_off_t>(request.body.size());
}

}  // namespace

HttpClient::Response HttpClient::perform(const Request& request) {
    initialiseCurlOnce();
    Response response;
    CurlHandle curl(curl_easy_init());
    if (!curl) {
        response.error = "The HTTP client could not be started.";
        return response;
    }

    CurlHeaderList headers;
    if (!headers.build(request.headers, request.completeHeaderSet, response.error))
        return response;
    // Large bodies must not wait for a "100 Continue" that many servers never send.
    if (!headers.append("Expect:")) {
        response.error = "Out of memory";
        return response;
    }

    char errorBuffer[CURL_ERROR_SIZE] = {};
    CURL* handle = curl.get();
    BodySink sink{handle, &response.body, request.maxResponseBytes, request.discardResponseBody,
                  request.bodyOnlyForStatus};
    curl_easy_setopt(handle, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, countHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &sink);
    // An empty proxy text switches off the proxy that libcurl would take from the environment.
    if (request.proxy == ProxyUse::none)
        curl_easy_setopt(handle, CURLOPT_PROXY, "");
    if (request.method == "POST") {
        curl_easy_setopt(handle, CURLOPT_POST, 1L);
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.body.data());
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.body.size()));
    }

    bool timedOut = false;
    const CURLcode result =
        transferWithTimeouts(handle, request.timeoutSeconds, request.deadlineSeconds, timedOut);
    const bool answered =
        result == CURLE_OK || (result == CURLE_WRITE_ERROR && sink.discardLimitReached);
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    // A refusal stays a refusal with its own status, however early it came.
    const bool answeredEarly = answered && status < 300 && !requestFullySent(handle, request);
    if (!answered || answeredEarly) {
        if (sink.headersOverflowed) {
            response.error = "The server sent more header lines than allowed (" +
                             std::to_string(kMaxHeaderBytes) + " bytes).";
        } else if (sink.overflowed) {
            response.error = "The server sent more data than allowed (" +
                             std::to_string(request.maxResponseBytes) + " bytes).";
        } else if (answeredEarly) {
            response.error = "The server answered before it had taken the whole request.";
        } else if (timedOut) {
            response.error = kTimedOut;
        } else {
            response.error = errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(result);
        }
        response.body.clear();
        return response;
    }
    response.status = status;
    response.transportOk = true;
    return response;
}

std::string HttpClient::statusPhrase(long status) {
    switch (status) {
        case 200:
            return "OK";
        case 201:
            return "Created";
        case 202:
            return "Accepted";
        case 204:
            return "No Content";
        case 206:
            return "Partial Content";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 303:
            return "See Other";
        case 304:
            return "Not Modified";
        case 307:
            return "Temporary Redirect";
        case 308:
            return "Permanent Redirect";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 402:
            return "Payment Required";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 408:
            return "Request Timeout";
        case 409:
            return "Conflict";
        case 410:
            return "Gone";
        case 411:
            return "Length Required";
        case 413:
            return "Payload Too Large";
        case 414:
            return "URI Too Long";
        case 415:
            return "Unsupported Media Type";
        case 416:
            return "Range Not Satisfiable";
        case 429:
            return "Too Many Requests";
        case 500:
            return "Internal Server Error";
        case 501:
            return "Not Implemented";
        case 502:
            return "Bad Gateway";
        case 503:
            return "Service Unavailable";
        case 504:
            return "Gateway Timeout";
        case 505:
            return "HTTP Version Not Supported";
        default:
            break;
    }
    if (status >= 100 && status < 200)
        return "Informational";
    if (status >= 200 && status < 300)
        return "Success";
    if (status >= 300 && status < 400)
        return "Redirection";
    if (status >= 400 && status < 500)
        return "Client Error";
    return "Server Error";
}

}  // namespace velmora
