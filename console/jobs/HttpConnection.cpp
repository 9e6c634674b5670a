#include "console/jobs/HttpConnection.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>

#include <algorithm>
#include <utility>
#include <vector>

namespace velmora::console {

namespace {

// The most read from one socket in one turn of the event loop.
constexpr size_t kReadBufferBytes = 256 * 1024;
// After the answer, what a client may still send (the rest of a refused body) is read and
// dropped for this long and up to this many bytes, so that closing does not reset the
// connection before the client has read the answer.
constexpr std::chrono::milliseconds kLingerTime{2000};
constexpr uint64_t kLingerBytes = 1024 * 1024;
// A client must send at least this much per idle period (or complete its head) to count as
// active: one that drips a byte now and then would otherwise hold its slot for ever.
constexpr uint64_t kMinBytesPerIdlePeriod = 4096;

bool wantsContinue(const HttpRequestHead& head) {
    const std::optional<std::string_view> expect = head.headerForKey("Expect");
    if (!expect)
        return false;
    std::string value(*expect);
    std::transform(value.begin(), value.end(), value.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return value == "100-continue";
}

// One buffer for every connection: all of them are read on this one thread, and a buffer per
// read would cost a fresh allocation (and its page faults) every time.
std::vector<char>& sharedBuffer() {
    static thread_local std::vector<char> buffer(kReadBufferBytes);
    return buffer;
}

bool wouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

}  // namespace

HttpConnection::HttpConnection(UniqueFd socket, HandlerFactory handlerFactory, Limits limits,
                               std::function<void(HttpConnection*)> finished)
    : socket_(std::move(socket)),
      readable_(socket_.get(), QSocketNotifier::Read),
      writable_(socket_.get(), QSocketNotifier::Write),
      handlerFactory_(std::move(handlerFactory)),
      limits_(limits),
      finished_(std::move(finished)),
      reader_(limits.maxHeadBytes) {
    ::fcntl(socket_.get(), F_SETFL, ::fcntl(socket_.get(), F_GETFL) | O_NONBLOCK);
    writable_.setEnabled(false);
    QObject::connect(&readable_, &QSocketNotifier::activated, &readable_,
                     [this] { readAvailable(); });
    QObject::connect(&writable_, &QSocketNotifier::activated, &writable_,
                     [this] { writePending(); });
    lastActivity_ = std::chrono::steady_clock::now();
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { timedOut(); });
    timer_.start(limits_.idleTimeout);
}

HttpConnection::~HttpConnection() {
    timer_.stop();
}

void HttpConnection::drop() {
    end();
}

void HttpConnection::readAvailable() {
    if (phase_ == Phase::kAnswering)
        return discardInput();
    // One buffer's worth per turn of the event loop, so that a fast upload shares the thread
    // with everyone else; the notifier comes straight back while more is waiting.
    std::vector<char>& buffer = sharedBuffer();
    const ssize_t got = ::recv(socket_.get(), buffer.data(), buffer.size(), 0);
    if (got == 0)
        return peerClosed();
    if (got < 0) {
        if (!wouldBlock())
            end();
        return;
    }
    // The timer is not re-armed on every read (that costs more than the read on a fast
    // upload); it checks when it fires whether the connection really was silent.
    progressBytes_ += static_cast<uint64_t>(got);
    if (progressBytes_ >= kMinBytesPerIdlePeriod)
        noteActivity();
    reader_.append(std::string_view(buffer.data(), static_cast<size_t>(got)));
    consume();
}

void HttpConnection::discardInput() {
    std::vector<char>& buffer = sharedBuffer();
    const ssize_t got = ::recv(socket_.get(), buffer.data(), buffer.size(), 0);
    if (got == 0 || (got < 0 && !wouldBlock()))
        return end();
    if (got > 0) {
        lingerBytes_ += static_cast<uint64_t>(got);
        if (lingerBytes_ > kLingerBytes)
            end();
    }
}

void HttpConnection::send(std::string_view bytes) {
    unsent_.append(bytes);
    writePending();
}

void HttpConnection::writePending() {
    while (!unsent_.empty()) {
        const ssize_t sent = ::send(socket_.get(), unsent_.data(), unsent_.size(), MSG_NOSIGNAL);
        if (sent < 0 && wouldBlock()) {
            writable_.setEnabled(true);
            return;
        }
        if (sent < 0) {
            // The client is gone; a failed write is not worth an error of its own.
            unsent_.clear();
            writable_.setEnabled(false);
            if (phase_ == Phase::kAnswering)
                end();
            return;
        }
        unsent_.erase(0, static_cast<size_t>(sent));
    }
    writable_.setEnabled(false);
    if (phase_ == Phase::kAnswering)
        answerWritten();
}

void HttpConnection::consume() {
    while (phase_ == Phase::kReading) {
        switch (reader_.next()) {
            case HttpRequestReader::Event::kNeedMore:
                return;
            case HttpRequestReader::Event::kHead:
                startHandler();
                break;
            case HttpRequestReader::Event::kBody:
                bodyPiece(reader_.body());
                break;
            case HttpRequestReader::Event::kDone:
                answer(handler_->startResponse());
                return;
            case HttpRequestReader::Event::kHeadTooLarge:
                answer(HttpResponse::withStatus(431));
                return;
            case HttpRequestReader::Event::kMalformed:
                // Bytes that are not HTTP get no answer.
                end();
                return;
        }
    }
}

void HttpConnection::noteActivity() {
    progressBytes_ = 0;
    lastActivity_ = std::chrono::steady_clock::now();
}

void HttpConnection::startHandler() {
    noteActivity();
    const HttpRequestHead head = reader_.head();
    const std::optional<uint64_t> length = reader_.contentLength();
    // A body in a coding other than chunked has no length the reader could go by: it would be
    // taken as empty and its bytes as the next request.
    if (head.headerForKey("Transfer-Encoding") && length)
        return answer(HttpResponse::withStatus(400));
    handler_ = handlerFactory_(head);
    if (!handler_)
        return answer(HttpResponse::withStatus(503));
    if (length && *length > handler_->bodyLimit())
        return answer(HttpResponse::withStatus(413));
    if (std::optional<HttpResponse> early = handler_->headReceived(length))
        return answer(*early);
    if (wantsContinue(head) && (!length || *length > 0))
        send("HTTP/1.1 100 Continue\r\n\r\n");
}

void HttpConnection::bodyPiece(std::string_view bytes) {
    bodyBytes_ += bytes.size();
    if (bodyBytes_ > handler_->bodyLimit())
        return answer(HttpResponse::withStatus(413));
    if (std::optional<HttpResponse> early = handler_->receiveBody(bytes))
        answer(*early);
}

void HttpConnection::answer(const HttpResponse& response) {
    if (phase_ != Phase::kReading)
        return;
    phase_ = Phase::kAnswering;
    // Whatever the handler began for a request that will not be completed is undone now.
    if (handler_ && !reader_.complete())
        handler_->abandon();
    timer_.start(std::min(limits_.idleTimeout, kLingerTime));
    // An answer nearly always fits the socket's buffer at once, so it is written now.
    send(response.serialize());
}

void HttpConnection::answerWritten() {
    if (phase_ != Phase::kAnswering || closing_)
        return;
    closing_ = true;
    noteActivity();
    int unread = 0;
    if (reader_.complete() && reader_.buffered() == 0 &&
        ::ioctl(socket_.get(), FIONREAD, &unread) == 0 && unread == 0) {
        return end();
    }
    // The client may still be sending: stop writing, keep reading until it closes.
    ::shutdown(socket_.get(), SHUT_WR);
}

void HttpConnection::timedOut() {
    if (phase_ == Phase::kReading) {
        const auto silent = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - lastActivity_);
        if (silent < limits_.idleTimeout) {
            timer_.start(limits_.idleTimeout - silent);
            return;
        }
    }
    if (phase_ == Phase::kReading)
        answer(HttpResponse::withStatus(408));
    else
        end();
}

void HttpConnection::peerClosed() {
    end();
}

void HttpConnection::end() {
    if (phase_ == Phase::kOver)
        return;
    phase_ = Phase::kOver;
    timer_.stop();
    if (handler_)
        handler_->abandon();
    readable_.setEnabled(false);
    writable_.setEnabled(false);
    socket_.reset();
    finished_(this);
}

}  // namespace velmora::console
