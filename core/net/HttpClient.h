#pragma once

#include <map>
#include <string>

namespace velmora {

// One synchronous HTTP exchange over libcurl, a fresh handle per call. No cookies, no cache;
// certificates are always verified. Bodies are bounded so a hostile server cannot make the
// process allocate without limit.
class HttpClient {
  public:
    using Headers = std::map<std::string, std::string>;

    enum class ProxyUse { environment, none };

    struct Request {
        std::string method = "GET";  // "GET" or "POST"
        std::string url;
        Headers headers;
        // Only the headers given: drop the client's own "Accept" line.
        bool completeHeaderSet = false;
        std::string body;
        // Idle time-out: the request fails when no byte moves either way for this long.
        double timeoutSeconds = 60;
        // Overall deadline, connection included: a peer that keeps the transfer alive by
        // dripping a byte now and then must not hold the caller for longer than this.
        double deadlineSeconds = kDefaultDeadlineSeconds;
        size_t maxResponseBytes = kDefaultMaxResponseBytes;
        // For answers whose body nobody reads: only the status counts, and at most
        // kMaxDiscardedBytes of the body are read before the answer is taken as complete.
        bool discardResponseBody = false;
        // The body is wanted only with this status; with any other it is discarded as above.
        // 0: wanted whatever the status.
        long bodyOnlyForStatus = 0;
        // Whether the proxy that the environment names (http_proxy, https_proxy, all_proxy,
        // no_proxy, read by libcurl) applies. Peers on the local network are always reached
        // directly.
        ProxyUse proxy = ProxyUse::environment;
    };

    struct Response {
        bool transportOk = false;  // a reply arrived (any status)
        long status = 0;
        std::string body;
        std::string error;  // transport error text when !transportOk ("The request timed out."
                            // after the idle time-out or the deadline)
    };

    static Response perform(const Request& request);

    // English reason phrase for an HTTP status code.
    static std::string statusPhrase(long status);

    static constexpr size_t kDefaultMaxResponseBytes = size_t{512} << 20;
    static constexpr double kDefaultDeadlineSeconds = 300;
    static constexpr size_t kMaxDiscardedBytes = 8192;
    // Head and trailer lines of one reply, 1xx answers included.
    static constexpr size_t kMaxHeaderBytes = 256 * 1024;
};

}  // namespace velmora
