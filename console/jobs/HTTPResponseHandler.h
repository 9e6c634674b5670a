#pragma once

#include "console/jobs/DirectServerContext.h"
#include "console/jobs/HttpRequestHead.h"
#include "console/jobs/HttpResponse.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::console {

// Answers one request to the direct print server. The server creates it as soon as the
// request's head is complete, feeds it the body as it arrives and sends the one answer it
// gives; the base class answers every request with the 501 page.
class HTTPResponseHandler {
  public:
    // The largest body a request may carry unless its handler says otherwise.
    static constexpr uint64_t kMaxRequestBody = 1024 * 1024;

    HTTPResponseHandler(HttpRequestHead head, DirectServerContext& context);
    virtual ~HTTPResponseHandler() = default;
    HTTPResponseHandler(const HTTPResponseHandler&) = delete;
    HTTPResponseHandler& operator=(const HTTPResponseHandler&) = delete;

    // Every request: the base class is the fallback registered last.
    static bool canHandleRequest(const HttpRequestHead&) { return true; }

    // Before any of the body is read. An answer here is final: the body is never taken.
    // `contentLength` is nullopt for a chunked body.
    virtual std::optional<HttpResponse> headReceived(std::optional<uint64_t> contentLength);
    virtual uint64_t bodyLimit() const { return kMaxRequestBody; }
    // The next piece of the body (the base class keeps it in requestData). An answer here is
    // final: the rest of the body is not read.
    virtual std::optional<HttpResponse> receiveBody(std::string_view bytes);
    // The whole request has arrived.
    virtual HttpResponse startResponse();
    // The connection ended, or was cut, before the request was complete.
    virtual void abandon() {}

    const std::string& requestMethod() const { return head_.method; }
    const HttpRequestHead& request() const { return head_; }
    // The request URL: "http://" and the "Host" field before the target when there is one.
    std::string url() const;
    const std::string& requestData() const { return requestData_; }
    std::optional<std::string_view> headerForKey(std::string_view name) const {
        return head_.headerForKey(name);
    }

    // Text that may be placed in an HTML page without becoming markup.
    static std::string escapeHtml(std::string_view text);

  protected:
    DirectServerContext& context() { return context_; }
    const DirectServerContext& context() const { return context_; }

  private:
    HttpRequestHead head_;
    DirectServerContext& context_;
    std::string requestData_;
};

}  // namespace velmora::console
