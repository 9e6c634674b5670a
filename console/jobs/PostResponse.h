#pragma once

#include "console/jobs/DirectPageRequest.h"
#include "console/jobs/HTTPResponseHandler.h"
#include "platform/UniqueFd.h"

#include <cstdint>
#include <optional>
#include <string>

namespace velmora::console {

// "/post": stores one byte range of a direct job's page file. Everything the headers say is
// checked before the body is read; the body then goes to the file as it arrives. A range that
// is not stored whole leaves the file as it was before the range began.
class PostResponse : public HTTPResponseHandler {
  public:
    // The longest range one request may carry.
    static constexpr int64_t kMaxRange = 64 * 1024 * 1024;

    using HTTPResponseHandler::HTTPResponseHandler;
    ~PostResponse() override;

    static bool canHandleRequest(const HttpRequestHead& head) { return head.path == "/post"; }

    std::optional<HttpResponse> headReceived(std::optional<uint64_t> contentLength) override;
    uint64_t bodyLimit() const override { return kMaxRange; }
    std::optional<HttpResponse> receiveBody(std::string_view bytes) override;
    HttpResponse startResponse() override;
    void abandon() override;

  private:
    std::optional<HttpResponse> checkHeaders(std::optional<uint64_t> contentLength);
    std::optional<HttpResponse> openPageFile();
    HttpResponse refuse(int status, std::string_view why);
    void rollBack();
    void release();
    bool jobStillUploading();

    int jobId_ = 0;
    int pageNumber_ = 0;
    int pageCount_ = 0;
    std::optional<DirectPageRequest::Range> range_;
    // The page file, held in pagesBeingWritten while set.
    std::string path_;
    UniqueFd file_;
    bool created_ = false;
    // The file was opened for this range: a failure cuts it back (or removes a new one).
    bool touched_ = false;
    int64_t written_ = 0;
};

}  // namespace velmora::console
