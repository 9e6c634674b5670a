#pragma once

#include "console/jobs/HTTPResponseHandler.h"
#include "console/jobs/HttpRequestReader.h"
#include "platform/UniqueFd.h"

#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace velmora::console {

// One client connection of the direct print server: reads one request, hands it to a handler
// as it arrives, writes the one answer and closes. Lives on the main thread; never blocks it:
// the socket is non-blocking and read straight into one buffer that every connection shares.
class HttpConnection {
  public:
    using HandlerFactory =
        std::function<std::unique_ptr<HTTPResponseHandler>(const HttpRequestHead&)>;

    struct Limits {
        size_t maxHeadBytes = 16 * 1024;
        // A connection that sends nothing (or next to nothing) for this long is closed.
        std::chrono::milliseconds idleTimeout{30'000};
    };

    // Takes the connected socket over. A factory that gives no handler means the server is
    // busy: the request is answered 503. `finished` is called once, when the connection is over;
    // the owner must not destroy the connection from inside that call.
    HttpConnection(UniqueFd socket, HandlerFactory handlerFactory, Limits limits,
                   std::function<void(HttpConnection*)> finished);
    ~HttpConnection();
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    // Closes at once, without an answer; `finished` is called as for any other end.
    void drop();

    // It has not sent the whole head of its request yet.
    bool waiting() const { return phase_ == Phase::kReading && !handler_; }
    // Its request's head is in and the request has not been answered yet.
    bool serving() const { return phase_ == Phase::kReading && handler_ != nullptr; }
    // Its answer is out; it stays open only until the client stops sending.
    bool answered() const { return phase_ == Phase::kAnswering && closing_; }
    bool over() const { return phase_ == Phase::kOver; }
    // When it last made progress that counts against the idle limit, or when its answer went
    // out.
    std::chrono::steady_clock::time_point lastActivity() const { return lastActivity_; }

  private:
    enum class Phase { kReading, kAnswering, kOver };

    void readAvailable();
    void discardInput();
    void send(std::string_view bytes);
    void writePending();
    void consume();
    void noteActivity();
    void startHandler();
    void bodyPiece(std::string_view bytes);
    void answer(const HttpResponse& response);
    void answerWritten();
    void timedOut();
    void peerClosed();
    void end();

    UniqueFd socket_;
    // Declared after the socket: they go before it closes.
    QSocketNotifier readable_;
    QSocketNotifier writable_;
    // Answer bytes the socket did not take yet.
    std::string unsent_;
    HandlerFactory handlerFactory_;
    Limits limits_;
    std::function<void(HttpConnection*)> finished_;
    QTimer timer_;
    std::chrono::steady_clock::time_point lastActivity_;
    HttpRequestReader reader_;
    std::unique_ptr<HTTPResponseHandler> handler_;
    uint64_t bodyBytes_ = 0;
    // Bytes since the last activity that counted.
    uint64_t progressBytes_ = 0;
    uint64_t lingerBytes_ = 0;
    Phase phase_ = Phase::kReading;
    // The answer is out; the connection is being closed.
    bool closing_ = false;
};

}  // namespace velmora::console
