#include "console/jobs/HTTPServer.h"
#include "console/jobs/DirectServerLog.h"

#include "console/jobs/HelloResponse.h"
#include "console/jobs/NewJobResponse.h"
#include "console/jobs/PostResponse.h"
#include "console/jobs/PrintersResponse.h"
#include "core/Deployment.h"
#include "platform/Logger.h"

#include <QTimer>

#include <algorithm>
#include <chrono>

namespace velmora::console {

namespace {

constexpr std::chrono::milliseconds kAcceptRetry{500};

}  // namespace

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
    listeningSocket_ = std::make_unique<DescriptorTcpServer>(
        [this](UniqueFd socket) { receiveIncomingConnection(std::move(socket)); });
    // Qt sets SO_REUSEADDR on listening sockets itself.
    if (!listeningSocket_->listen(address, port)) {
        setLastError(errorWithName("Unable to bind socket to address."));
        return false;
    }
    // Qt stops accepting for good once accept() fails, for want of descriptors for instance;
    // those come back as connections close, so accepting starts again a moment later.
    QObject::connect(listeningSocket_.get(), &QTcpServer::acceptError, listeningSocket_.get(),
                     [this] {
                         serverLog().error("HTTPServer cannot accept a connection: {}",
                                           listeningSocket_->errorString().toStdString());
                         QTimer::singleShot(kAcceptRetry, listeningSocket_.get(),
                                            [this] { listeningSocket_->resumeAccepting(); });
                     });
    setState(kRunning);
    return true;
}

void HTTPServer::stop() {
    if (state_ == kIdle && !listeningSocket_)
        return;
    setState(kStopping);
    connections_.clear();
    listeningSocket_.reset();
    setState(kIdle);
}

quint16 HTTPServer::serverPort() const {
    return listeningSocket_ && listeningSocket_->isListening() ? listeningSocket_->serverPort() : 0;
}

size_t HTTPServer::connectionCount() const {
    return connections_.size() - countConnections(&HttpConnection::over);
}

size_t HTTPServer::countConnections(bool (HttpConnection::*is)() const) const {
    return static_cast<size_t>(
        std::count_if(connections_.begin(), connections_.end(),
                      [is](const auto& entry) { return (entry.second.get()->*is)(); }));
}

void HTTPServer::receiveIncomingConnection(UniqueFd socket) {
    // Besides those served and those waiting, as many again may be finishing their answers;
    // beyond that a new connection is closed at once, so that a flood cannot use up every
    // descriptor of the process. One whose answer is already out lingers only as a courtesy to
    // its client: it gives way, or clients that never stop sending would lock out everyone.
    if (connectionCount() >= limits_.maxWaitingConnections + 2 * limits_.maxConnections &&
        !dropLongestSilent(&HttpConnection::answered)) {
        return;
    }
    if (countConnections(&HttpConnection::waiting) >= limits_.maxWaitingConnections)
        dropLongestSilent(&HttpConnection::waiting);
    auto connection = std::make_unique<HttpConnection>(
        std::move(socket), [this](const HttpRequestHead& head) { return handlerForRequest(head); },
        limits_.connection, [this](HttpConnection* finished) { closeConnection(finished); });
    connections_.emplace(connection.get(), std::move(connection));
}

bool HTTPServer::dropLongestSilent(bool (HttpConnection::*is)() const) {
    HttpConnection* longestSilent = nullptr;
    for (const auto& [key, connection] : connections_) {
        if ((connection.get()->*is)() &&
            (!longestSilent || connection->lastActivity() < longestSilent->lastActivity())) {
            longestSilent = key;
        }
    }
    if (!longestSilent)
        return false;
    longestSilent->drop();
    return true;
}

std::unique_ptr<HTTPResponseHandler> HTTPServer::handlerForRequest(const HttpRequestHead& head) {
    // The connection asking is not counted yet: it is still waiting for its handler.
    if (countConnections(&HttpConnection::serving) >= limits_.maxConnections)
        return nullptr;
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
    QTimer::singleShot(0, listeningSocket_.get(),
                       [this, connection] { connections_.erase(connection); });
}

}  // namespace velmora::console
