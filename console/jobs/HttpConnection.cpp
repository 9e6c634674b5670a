#include "console/jobs/HttpConnection.h"

#include <sys/socket.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace velmora::console {

namespace {

// How much of the socket's input Qt holds for us at a time.
constexpr qint64 kReadBufferBytes = 256 * 1024;
// After the answer, what a client may still send (the rest of a refused body) is read and
// dropped for this long and up to this many bytes, so that closing does not reset the
// connection before the client has read the answer.
constexpr std::chrono::milliseconds kLingerTime{2000};
constexpr qint64 kLingerBytes = 1024 * 1024;
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

}  // namespace

void HttpConnection::SocketDeleter::operator()(QTcpSocket* socket) const {
    socket->disconnect();
    socket->abort();
    socket->deleteLater();
}

HttpConnection::HttpConnection(QTcpSocket* socket, HandlerFactory handlerFactory, Limits limits,
                               std::function<void(HttpConnection*)> finished)
    : socket_(socket),
      handlerFactory_(std::move(handlerFactory)),
      limits_(limits),
      finished_(std::move(finished)),
      reader_(limits.maxHeadBytes) {
    socket_->setParent(nullptr);
    socket_->setReadBufferSize(kReadBufferBytes);
    QTcpSocket* raw = socket_.get();
    QObject::connect(raw, &QTcpSocket::readyRead, raw, [this] { readAvailable(); });
    QObject::connect(raw, &QTcpSocket::disconnected, raw, [this] { peerClosed(); });
    QObject::connect(raw, &QTcpSocket::bytesWritten, raw, [this] {
        if (phase_ == Phase::kAnswering && socket_->bytesToWrite() == 0)
            answerWritten();
    });
    lastActivity_ = std::chrono::steady_clock::now();
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, raw, [this] { timedOut(); });
    timer_.start(limits_.idleTimeout);
    if (socket_->bytesAvailable() > 0)
        QTimer::singleShot(0, raw, [this] { readAvailable(); });
}

HttpConnection::~HttpConnection() {
    timer_.stop();
}

void HttpConnection::refuse(const HttpResponse& response) {
    answer(response);
}

void HttpConnection::readAvailable() {
    if (phase_ == Phase::kAnswering) {
        lingerBytes_ += socket_->skip(socket_->bytesAvailable());
        if (lingerBytes_ > kLingerBytes)
            end();
        return;
    }
    // One buffer for every connection: all of them are read on this one thread, and a buffer
    // per read would cost a fresh allocation (and its page faults) every time.
    static thread_local std::vector<char> buffer(static_cast<size_t>(kReadBufferBytes));
    while (phase_ == Phase::kReading) {
        const qint64 got = socket_->read(buffer.data(), static_cast<qint64>(buffer.size()));
        if (got <= 0)
            return;
        // The timer is not re-armed on every read (that costs more than the read on a fast
        // upload); it checks when it fires whether the connection really was silent.
        progressBytes_ += static_cast<uint64_t>(got);
        if (progressBytes_ >= kMinBytesPerIdlePeriod)
            noteActivity();
        reader_.append(std::string_view(buffer.data(), static_cast<size_t>(got)));
        consume();
    }
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
    if (length && *length > handler_->bodyLimit())
        return answer(HttpResponse::withStatus(413));
    if (std::optional<HttpResponse> early = handler_->headReceived(length))
        return answer(*early);
    if (wantsContinue(head) && (!length || *length > 0))
        socket_->write("HTTP/1.1 100 Continue\r\n\r\n");
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
    const std::string bytes = response.serialize();
    socket_->write(bytes.data(), static_cast<qint64>(bytes.size()));
    timer_.start(std::min(limits_.idleTimeout, kLingerTime));
    // An answer nearly always fits the socket's buffer at once; writing it now rather than on
    // the next turn of the loop saves the connection a wake-up.
    socket_->flush();
    if (socket_->bytesToWrite() == 0)
        answerWritten();
}

void HttpConnection::answerWritten() {
    // Qt may report the flush both from inside flush() and after it.
    if (phase_ != Phase::kAnswering || closing_)
        return;
    closing_ = true;
    if (reader_.complete() && reader_.buffered() == 0 && socket_->bytesAvailable() == 0) {
        socket_->disconnectFromHost();
        return;
    }
    // The client may still be sending: stop writing, keep reading until it closes.
    ::shutdown(static_cast<int>(socket_->socketDescriptor()), SHUT_WR);
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
    socket_->disconnect();
    socket_->abort();
    finished_(this);
}

}  // namespace velmora::console
