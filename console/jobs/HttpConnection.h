#pragma once

#include "console/jobs/HTTPResponseHandler.h"
#include "console/jobs/HttpRequestReader.h"

#include <QTcpSocket>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

namespace velmora::console {

// One client connection of the direct print server: reads one request, hands it to a handler
// as it arrives, writes the one answer and closes. Lives on the main thread; never blocks it.
class HttpConnection {
  public:
    using HandlerFactory =
        std::function<std::unique_ptr<HTTPResponseHandler>(const HttpRequestHead&)>;

    struct Limits {
        size_t maxHeadBytes = 16 * 1024;
        // A connection that sends nothing (or next to nothing) for this long is closed.
        std::chrono::milliseconds idleTimeout{30'000};
    };

    // Takes the socket over. `finished` is called once, when the connection is over; the
    // owner must not destroy the connection from inside that call.
    HttpConnection(QTcpSocket* socket, HandlerFactory handlerFactory, Limits limits,
                   std::function<void(HttpConnection*)> finished);
    ~HttpConnection();
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    // Answers at once without reading the request (used when the server is full).
    void refuse(const HttpResponse& response);

  private:
    struct SocketDeleter {
        void operator()(QTcpSocket* socket) const;
    };
    enum class Phase { kReading, kAnswering, kOver };

    void readAvailable();
    void consume();
    void noteActivity();
    void startHandler();
    void bodyPiece(std::string_view bytes);
    void answer(const HttpResponse& response);
    void answerWritten();
    void timedOut();
    void peerClosed();
    void end();

    std::unique_ptr<QTcpSocket, SocketDeleter> socket_;
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
    qint64 lingerBytes_ = 0;
    Phase phase_ = Phase::kReading;
    // The answer is out; the connection is being closed.
    bool closing_ = false;
};

}  // namespace velmora::console
