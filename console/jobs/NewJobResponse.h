#pragma once

#include "console/jobs/HTTPResponseHandler.h"

namespace velmora::console {

// "/newjob": opens a direct job from the "data" element of the body, for a printer that this
// console shares with nearby clients.
class NewJobResponse : public HTTPResponseHandler {
  public:
    using HTTPResponseHandler::HTTPResponseHandler;
    static bool canHandleRequest(const HttpRequestHead& head) { return head.path == "/newjob"; }
    HttpResponse startResponse() override;

  private:
    bool sharesPrinter(const std::string& publicId) const;
};

}  // namespace velmora::console
