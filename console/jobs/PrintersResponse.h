#pragma once

#include "console/jobs/HTTPResponseHandler.h"

namespace velmora::console {

// "/printers": the local printers shared with nearby clients, full form.
class PrintersResponse : public HTTPResponseHandler {
  public:
    using HTTPResponseHandler::HTTPResponseHandler;
    static bool canHandleRequest(const HttpRequestHead& head) { return head.path == "/printers"; }
    HttpResponse startResponse() override;
};

}  // namespace velmora::console
