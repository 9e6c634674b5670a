#include "console/jobs/HttpRequestReader.h"

#include <boost/asio/buffer.hpp>
#include <boost/beast/http/error.hpp>

#include <limits>

namespace velmora::console {

namespace http = boost::beast::http;

namespace {

// The path of an origin-form target ("/post?x") or of an absolute-form one
// ("http://host/post?x"), which a server must take as well.
std::string originFormPath(std::string_view target) {
    const size_t scheme = target.find("://");
    if (!target.starts_with('/') && scheme != std::string_view::npos) {
        const size_t slash = target.find('/', scheme + 3);
        target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
    }
    return std::string(target.substr(0, target.find('?')));
}

}  // namespace

HttpRequestReader::HttpRequestReader(size_t maxHeadBytes)
    : piece_(kPieceSize), maxHeadBytes_(maxHeadBytes) {
    parser_.header_limit(static_cast<std::uint32_t>(maxHeadBytes));
    // Body sizes are the handlers' business; they see the length before any byte. (Boost
    // 1.74 compares a length with an empty limit as if it were exceeded, so no boost::none.)
    parser_.body_limit(std::numeric_limits<std::uint64_t>::max());
}

void HttpRequestReader::append(std::string_view bytes) {
    if (offset_ > 0 && offset_ == input_.size()) {
        input_.clear();
        offset_ = 0;
    }
    input_.append(bytes);
}

HttpRequestReader::Event HttpRequestReader::next() {
    pieceBytes_ = 0;
    if (end_)
        return *end_;
    if (parser_.is_done())
        return *(end_ = Event::kDone);
    auto& body = parser_.get().body();
    if (headSeen_) {
        body.data = piece_.data();
        body.size = piece_.size();
    } else {
        body.data = nullptr;
        body.size = 0;
    }
    boost::beast::error_code error;
    const size_t used =
        parser_.put(boost::asio::buffer(input_.data() + offset_, input_.size() - offset_), error);
    offset_ += used;
    if (!headSeen_)
        headBytes_ += used;
    if (offset_ == input_.size()) {
        input_.clear();
        offset_ = 0;
    }
    if (error == http::error::need_buffer)
        error = {};

    if (!headSeen_ && parser_.is_header_done()) {
        if (headBytes_ > maxHeadBytes_)
            return *(end_ = Event::kHeadTooLarge);
        headSeen_ = true;
        // From here on every call takes as much body as fits one piece.
        parser_.eager(true);
        return Event::kHead;
    }
    if (headSeen_) {
        pieceBytes_ = piece_.size() - body.size;
        if (pieceBytes_ > 0)
            return Event::kBody;
    }
    if (error == http::error::need_more) {
        // Past the head the parser waits only for whole lines (a chunk's size, the trailer):
        // one longer than a head may be is not taken, or its bytes would pile up without end.
        if (headSeen_ && buffered() > maxHeadBytes_)
            return *(end_ = Event::kMalformed);
        return Event::kNeedMore;
    }
    if (error)
        return *(end_ =
                     error == http::error::header_limit ? Event::kHeadTooLarge : Event::kMalformed);
    if (parser_.is_done())
        return *(end_ = Event::kDone);
    return used == 0 ? Event::kNeedMore : next();
}

HttpRequestHead HttpRequestReader::head() const {
    const auto& message = parser_.get();
    HttpRequestHead head;
    head.method = std::string(message.method_string());
    head.target = std::string(message.target());
    head.path = originFormPath(head.target);
    for (const auto& field : message)
        head.headerFields.emplace_back(std::string(field.name_string()),
                                       std::string(field.value()));
    return head;
}

std::optional<uint64_t> HttpRequestReader::contentLength() const {
    if (parser_.chunked())
        return std::nullopt;
    const boost::optional<std::uint64_t> length = parser_.content_length();
    return length ? *length : 0;
}

}  // namespace velmora::console
