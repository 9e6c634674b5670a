#pragma once

#include "console/jobs/DescriptorTcpServer.h"
#include "console/jobs/DirectServerContext.h"
#include "console/jobs/HTTPResponseHandler.h"
#include "console/jobs/HttpConnection.h"

#include <QHostAddress>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora::console {

// The direct print server: nearby clients list the shared printers, open direct jobs and post
// their pages here. Runs on the main thread's event loop; each connection carries one request.
class HTTPServer {
  public:
    enum State : int32_t { kIdle = 0, kStarting = 1, kRunning = 2, kStopping = 3 };

    static constexpr quint16 kPort = 8032;

    struct Limits {
        HttpConnection::Limits connection;
        // Requests served at once (their head is in, their answer is not out yet); one more is
        // answered 503 as soon as its head is in.
        size_t maxConnections = 64;
        // Connections that have not sent a whole head yet, most of them idle. They hold no slot
        // of the above; when there are this many, the one silent the longest is closed to make
        // room for a new one, as a client cannot tell that from its connection timing out.
        size_t maxWaitingConnections = 256;
    };

    HTTPServer(JobArray& jobs, LocalPrinterArray& localPrinters);
    HTTPServer(JobArray& jobs, LocalPrinterArray& localPrinters, Limits limits);
    ~HTTPServer();
    HTTPServer(const HTTPServer&) = delete;
    HTTPServer& operator=(const HTTPServer&) = delete;

    // Appends a handler class; requests go to the first registered class that takes them.
    template <typename Handler>
    void registerHandler() {
        handlerClasses_.push_back({&Handler::canHandleRequest,
                                   [](const HttpRequestHead& head, DirectServerContext& context) {
                                       return std::unique_ptr<HTTPResponseHandler>(
                                           std::make_unique<Handler>(head, context));
                                   }});
    }
    // The console's handlers: "/hello", "/post", "/printers", "/newjob", then the 501 page.
    void registerDefaultHandlers();

    // Listens on `port` of `address` (every IPv4 address by default). False, with lastError
    // set, the server stopped and the error logged, when it cannot.
    bool start(quint16 port = kPort, const QHostAddress& address = QHostAddress::AnyIPv4);
    void stop();

    int32_t state() const { return state_; }
    // Told of every change of state ("ServerNotificationStateChanged").
    void setStateObserver(std::function<void(int32_t)> observer) {
        stateObserver_ = std::move(observer);
    }
    const std::optional<std::string>& lastError() const { return lastError_; }
    // The port listened on (useful after start(0)); 0 when not listening.
    quint16 serverPort() const;
    // Connections open right now, whatever they are doing.
    size_t connectionCount() const;

  private:
    struct HandlerClass {
        bool (*canHandleRequest)(const HttpRequestHead&);
        std::unique_ptr<HTTPResponseHandler> (*create)(const HttpRequestHead&,
                                                       DirectServerContext&);
    };

    void setState(int32_t state);
    void setLastError(std::optional<std::string> error);
    static std::string errorWithName(std::string_view message);
    void receiveIncomingConnection(UniqueFd socket);
    size_t countConnections(bool (HttpConnection::*is)() const) const;
    bool dropLongestSilent(bool (HttpConnection::*is)() const);
    std::unique_ptr<HTTPResponseHandler> handlerForRequest(const HttpRequestHead& head);
    void closeConnection(HttpConnection* connection);

    DirectServerContext context_;
    Limits limits_;
    std::vector<HandlerClass> handlerClasses_;
    std::unique_ptr<DescriptorTcpServer> listeningSocket_;
    // Every connection until the turn of the event loop after it ends.
    std::map<HttpConnection*, std::unique_ptr<HttpConnection>> connections_;
    int32_t state_ = kIdle;
    std::optional<std::string> lastError_;
    std::function<void(int32_t)> stateObserver_;
};

}  // namespace velmora::console
