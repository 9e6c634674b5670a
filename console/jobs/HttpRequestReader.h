#pragma once

#include "console/jobs/HttpRequestHead.h"

#include <boost/beast/http/buffer_body.hpp>
#include <boost/beast/http/parser.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::console {

// Reads one HTTP request from bytes as they arrive, without holding its body: the body comes
// out piece by piece (chunked bodies already decoded) for the caller to pass on.
class HttpRequestReader {
  public:
    enum class Event {
        kNeedMore,      // every byte so far is used; append more
        kHead,          // the head is complete: head(), contentLength()
        kBody,          // body(): the next piece of the body
        kDone,          // the request is complete
        kHeadTooLarge,  // the head is longer than the limit
        kMalformed,     // not HTTP; nothing more can be read
    };

    // Body pieces are at most this long.
    static constexpr size_t kPieceSize = 64 * 1024;

    explicit HttpRequestReader(size_t maxHeadBytes);

    void append(std::string_view bytes);
    // The next thing the bytes appended so far tell; call again until kNeedMore or an end
    // (kDone, kHeadTooLarge, kMalformed), which every later call repeats.
    Event next();

    HttpRequestHead head() const;
    // nullopt for a chunked body; 0 when the request has none.
    std::optional<uint64_t> contentLength() const;
    std::string_view body() const { return {piece_.data(), pieceBytes_}; }
    // The whole request has been read.
    bool complete() const { return end_ == Event::kDone; }
    // Bytes appended but not read yet.
    size_t buffered() const { return input_.size() - offset_; }

  private:
    boost::beast::http::request_parser<boost::beast::http::buffer_body> parser_;
    std::string input_;
    size_t offset_ = 0;
    std::vector<char> piece_;
    size_t pieceBytes_ = 0;
    // Beast's own head limit leaves the request line out, so the whole head is counted here.
    size_t maxHeadBytes_;
    size_t headBytes_ = 0;
    bool headSeen_ = false;
    // Once the request is complete or cannot be read, every call answers the same.
    std::optional<Event> end_;
};

}  // namespace velmora::console
