#include "console/jobs/HTTPServer.h"
#include "console/jobs/DirectServerLog.h"

#include "console/jobs/HelloResponse.h"
#include "console/jobs/NewJobResponse.h"
#include "console/jobs/PostResponse.h"
#include "console/jobs/PrintersResponse.h"
#include "core/Deployment.h"
#include "platform/Logger.h"

#include <QTimer>

namespace velmora::console {

HTTPServer::HTTPServer(JobArray& jobs, LocalPrinterArray& localPrinters)
    : HTTPServer(jobs, localPrinters, Limits()) {}

HTTPServer::HTTPServer(JobArray& jobs, LocalPrinterArray& localPrinters, Limits limits)
    : context_{jobs, localPrinters, {}}, limits_(limits) {}

HTTPServer::~HTTPServer() {
    stop();
}

void HTTPServer::registerDefaultHandlers() {
    registerHandler<HelloResponse>();
    registerHandler<PostResponse>();
    registerHandler<PrintersResponse>();
    registerHandler<NewJobResponse>();
    registerHandler<HTTPResponseHandler>();
}

void HTTPServer::setState(int32_t state) {
    if (state == state_)
        return;
    state_ = state;
    if (stateObserver_)
        stateObserver_(state_);
}

std::string HTTPServer::errorWithName(std::string_view message) {
    return std::string(message);
}

void HTTPServer::setLastError(std::optional<std::string> error) {
    lastError_ = std::move(error);
    if (!lastError_)
        return;
    stop();
    serverLog().error("HTTPServer error: {}", *lastError_);
}

bool HTTPServer::start(quint16 port, const QHostAddress& address) {
    setLastError(std::nullopt);
    setState(kStarting);
    listeningSocket_ = std::make_unique<QTcpServer>();
    // Qt sets SO_REUSEADDR on listening sockets itself.
    if (!listeningSocket_->listen(address, port)) {
        setLastError(errorWithName("Unable to bind socket to address."));
        return false;
    }
    QObject::connect(listeningSocket_.get(), &QTcpServer::newConnection, listeningSocket_.get(),
                     [this] { receiveIncomingConnections(); });
    setState(kRunning);
    return true;
}

void HTTPServer::stop() {
    if (state_ == kIdle && !listeningSocket_)
        return;
    setState(kStopping);
    connections_.clear();
    refused_.clear();
    listeningSocket_.reset();
    setState(kIdle);
}

quint16 HTTPServer::serverPort() const {
    return listeningSocket_ && listeningSocket_->isListening() ? listeningSocket_->serverPort() : 0;
}

void HTTPServer::receiveIncomingConnections() {
    while (QTcpSocket* socket = listeningSocket_->nextPendingConnection()) {
        auto finished = [this](HttpConnection* connection) { closeConnection(connection); };
        if (connections_.size() >= limits_.maxConnections) {
            // Answering costs a little; beyond a second full set the socket is just dropped.
            if (refused_.size() >= limits_.maxConnections) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            auto connection = std::make_unique<HttpConnection>(
                socket, HttpConnection::HandlerFactory(), limits_.connection, finished);
            HttpConnection* key = connection.get();
            refused_.emplace(key, std::move(connection));
            key->refuse(HttpResponse::withStatus(503));
            continue;
        }
        auto connection = std::make_unique<HttpConnection>(
            socket, [this](const HttpRequestHead& head) { return handlerForRequest(head); },
            limits_.connection, finished);
        connections_.emplace(connection.get(), std::move(connection));
    }
}

std::unique_ptr<HTTPResponseHandler> HTTPServer::handlerForRequest(const HttpRequestHead& head) {
    for (const HandlerClass& handlerClass : handlerClasses_) {
        if (handlerClass.canHandleRequest(head))
            return handlerClass.create(head, context_);
    }
    // Without any registered class every request still gets the 501 page.
    return std::make_unique<HTTPResponseHandler>(head, context_);
}

void HTTPServer::closeConnection(HttpConnection* connection) {
    if (!listeningSocket_)
        return;
    // Called from inside the connection's own signal handling: it goes after that returns.
    QTimer::singleShot(0, listeningSocket_.get(), [this, connection] {
        connections_.erase(connection);
        refused_.erase(connection);
    });
}

}  // namespace velmora::console
