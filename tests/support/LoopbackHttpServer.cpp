#include "tests/support/LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <stdexcept>

namespace velmora::test {

namespace {

constexpr size_t kMaxRequestBytes = size_t{256} << 20;

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool parseHead(const std::string& head, LoopbackHttpServer::Request& request) {
    size_t lineEnd = head.find("\r\n");
    const std::string requestLine = head.substr(0, lineEnd);
    const size_t space1 = requestLine.find(' ');
    const size_t space2 = requestLine.find(' ', space1 + 1);
    if (space1 == std::string::npos || space2 == std::string::npos)
        return false;
    request.method = requestLine.substr(0, space1);
    request.target = requestLine.substr(space1 + 1, space2 - space1 - 1);
    size_t at = lineEnd + 2;
    while (at < head.size()) {
        size_t end = head.find("\r\n", at);
        if (end == std::string::npos)
            end = head.size();
        const std::string line = head.substr(at, end - at);
        const size_t colon = line.find(':');
        if (colon != std::string::npos) {
            request.headers[lowerCase(line.substr(0, colon))] = trim(line.substr(colon + 1));
        }
        at = end + 2;
    }
    return true;
}

bool sendAll(int fd, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

LoopbackHttpServer::LoopbackHttpServer(Handler handler) : handler_(std::move(handler)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 16) != 0) {
        ::close(listener_);
        throw std::runtime_error("bind/listen failed");
    }
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
    stopping_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
}

std::string LoopbackHttpServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<LoopbackHttpServer::Request> LoopbackHttpServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void LoopbackHttpServer::setAnswerBeforeBody(bool early) {
    answerBeforeBody_ = early;
}

void LoopbackHttpServer::setHandler(Handler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

void LoopbackHttpServer::serve() {
    while (!stopping_) {
        pollfd waiting{listener_, POLLIN, 0};
        if (::poll(&waiting, 1, 100) <= 0)
            continue;
        int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        handleConnection(fd);
        ::close(fd);
    }
}

void LoopbackHttpServer::sendEndlessTrailer(int fd, std::string head, const std::string& body) {
    std::ostringstream chunk;
    chunk << std::hex << body.size();
    head += "Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
    head += chunk.str() + "\r\n" + body + "\r\n0\r\n";
    if (!sendAll(fd, head))
        return;
    const std::string line = "X-Trailer: " + std::string(1000, 't') + "\r\n";
    std::string lines;
    for (int i = 0; i < 64; ++i)
        lines += line;
    while (!stopping_ && sendAll(fd, lines)) {
    }
}

void LoopbackHttpServer::handleConnection(int fd) {
    std::string received;
    char buffer[65536];
    size_t headEnd = std::string::npos;
    Request request;
    size_t wanted = 0;
    while (true) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return;
        received.append(buffer, static_cast<size_t>(n));
        if (received.size() > kMaxRequestBytes)
            return;
        if (headEnd == std::string::npos) {
            headEnd = received.find("\r\n\r\n");
            if (headEnd == std::string::npos)
                continue;
            if (!parseHead(received.substr(0, headEnd), request))
                return;
            const std::string length = request.header("content-length");
            wanted = length.empty() ? 0 : std::stoul(length);
            if (wanted > kMaxRequestBytes)
                return;
        }
        if (received.size() >= headEnd + 4 + wanted || answerBeforeBody_)
            break;
    }
    wanted = std::min(wanted, received.size() - (headEnd + 4));
    request.body = received.substr(headEnd + 4, wanted);
    request.raw = received.substr(0, headEnd + 4 + wanted);

    Handler handler;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
        handler = handler_;
    }
    Reply reply = handler(request);
    if (reply.delayMilliseconds > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(reply.delayMilliseconds));
    }
    if (reply.dropConnection)
        return;
    std::string response = "HTTP/1.1 " + std::to_string(reply.status) + " Status\r\n";
    for (const auto& [name, value] : reply.headers)
        response += name + ": " + value + "\r\n";
    if (reply.endlessTrailer) {
        sendEndlessTrailer(fd, response, reply.body);
        return;
    }
    if (!reply.endless)
        response += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
    response += "Connection: close\r\n\r\n";
    if (reply.tricklePauseMilliseconds <= 0 && !reply.endless) {
        sendAll(fd, response + reply.body);
        return;
    }
    if (!sendAll(fd, response))
        return;
    const std::string body =
        reply.endless && reply.body.empty() ? std::string(4096, 'x') : reply.body;
    do {
        if (reply.tricklePauseMilliseconds <= 0) {
            if (!sendAll(fd, body))
                return;
            continue;
        }
        for (char byte : body) {
            std::this_thread::sleep_for(std::chrono::milliseconds(reply.tricklePauseMilliseconds));
            if (stopping_ || !sendAll(fd, std::string(1, byte)))
                return;
        }
    } while (reply.endless && !stopping_);
}

}  // namespace velmora::test
