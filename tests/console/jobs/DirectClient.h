#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

#include "platform/UniqueFd.h"

namespace velmora::test {

// A nearby client on loopback with plain blocking sockets, so that every byte it sends (and
// when) is exactly what the test says.
class DirectClient {
  public:
    struct Reply {
        int status = 0;  // 0: the connection ended without an answer
        std::string head;
        std::string body;
        std::string raw;
    };

    // A `receiveBuffer` other than 0 is set before connecting, so that the window the server
    // sees is that small: an answer then fills it at once when the client does not read.
    explicit DirectClient(uint16_t port, int receiveBuffer = 0)
        : socket_(::socket(AF_INET, SOCK_STREAM, 0)) {
        if (receiveBuffer > 0)
            ::setsockopt(socket_.get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer,
                         sizeof receiveBuffer);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = socket_ && ::connect(socket_.get(), reinterpret_cast<sockaddr*>(&address),
                                          sizeof address) == 0;
    }

    bool connected() const { return connected_; }

    // False once the server has closed (or reset) the connection.
    bool send(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t sent = ::send(socket_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent <= 0)
                return false;
            bytes.remove_prefix(static_cast<size_t>(sent));
        }
        return true;
    }

    // Closes so that the server sees a reset, not an orderly end.
    void reset() {
        const linger abort{1, 0};
        ::setsockopt(socket_.get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        socket_.reset();
    }
    // One byte every `pause`.
    bool trickle(std::string_view bytes, std::chrono::milliseconds pause) {
        for (char c : bytes) {
            if (!send(std::string_view(&c, 1)))
                return false;
            std::this_thread::sleep_for(pause);
        }
        return true;
    }

    // Everything the server sends until it closes the connection (or `limit` passes).
    Reply receive(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        Reply reply;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        char buffer[65536];
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd ready{socket_.get(), POLLIN, 0};
            if (::poll(&ready, 1, 50) <= 0)
                continue;
            const ssize_t got = ::recv(socket_.get(), buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            reply.raw.append(buffer, static_cast<size_t>(got));
        }
        parse(reply);
        return reply;
    }

    // True when the server closed the connection within `limit` (whatever it sent before).
    bool closedWithin(std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        char buffer[4096];
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd ready{socket_.get(), POLLIN, 0};
            if (::poll(&ready, 1, 50) <= 0)
                continue;
            if (::recv(socket_.get(), buffer, sizeof buffer, 0) <= 0)
                return true;
        }
        return false;
    }

    static std::string request(std::string_view method, std::string_view target,
                               std::string_view headers, std::string_view body) {
        return std::string(method) + " " + std::string(target) +
               " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + std::string(headers) +
               "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + std::string(body);
    }

  private:
    static void parse(Reply& reply) {
        // A "100 Continue" before the answer is not the answer.
        std::string_view rest = reply.raw;
        while (rest.starts_with("HTTP/1.1 100")) {
            const size_t end = rest.find("\r\n\r\n");
            if (end == std::string_view::npos)
                return;
            rest.remove_prefix(end + 4);
        }
        const size_t end = rest.find("\r\n\r\n");
        if (!rest.starts_with("HTTP/1.1 ") || end == std::string_view::npos)
            return;
        reply.status = std::stoi(std::string(rest.substr(9, 3)));
        reply.head = std::string(rest.substr(0, end));
        reply.body = std::string(rest.substr(end + 4));
    }

    UniqueFd socket_;
    bool connected_ = false;
};

}  // namespace velmora::test
