#pragma once

#include "console/jobs/HTTPResponseHandler.h"

namespace velmora::console {

// "/hello": a probe that this server answers 501 without a body, so that a sender that wants
// 200 sends its pages through the service instead.
class HelloResponse : public HTTPResponseHandler {
  public:
    using HTTPResponseHandler::HTTPResponseHandler;
    static bool canHandleRequest(const HttpRequestHead& head) { return head.path == "/hello"; }
    HttpResponse startResponse() override { return HttpResponse::withStatus(501); }
};

}  // namespace velmora::console
