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

    struct Request {
        std::string method = "GET";  // "GET" or "POST"
        std::string url;
        Headers headers;
        // Only the headers given: drop the client's own "Accept" line.
        bool completeHeaderSet = false;
        std::string body;
        // Idle time-out: the request fails when no byte moves either way for this long. A long
        // transfer that keeps moving is never cut off.
        double timeoutSeconds = 60;
        size_t maxResponseBytes = kDefaultMaxResponseBytes;
        // For answers whose body nobody reads: it is drained and dropped, whatever its size.
        bool discardResponseBody = false;
    };

    struct Response {
        bool transportOk = false;  // a reply arrived (any status)
        long status = 0;
        std::string body;
        std::string error;  // transport error text when !transportOk ("The request timed out."
                            // after the idle time-out)
    };

    static Response perform(const Request& request);

    // English reason phrase for an HTTP status code.
    static std::string statusPhrase(long status);

    static constexpr size_t kDefaultMaxResponseBytes = size_t{512} << 20;
};

}  // namespace velmora
