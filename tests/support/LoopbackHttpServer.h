#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velmora::test {

// A small real HTTP/1.1 server on 127.0.0.1 for tests that need a peer answering exactly as
// told: canned replies, delays, dropped connections. Every request it receives is recorded
// byte for byte. One connection at a time; each reply closes its connection.
class LoopbackHttpServer {
  public:
    struct Request {
        std::string method;
        std::string target;
        std::map<std::string, std::string> headers;  // names in lower case
        std::string body;
        std::string raw;  // the whole request as received

        std::string header(const std::string& lowerCaseName) const {
            auto it = headers.find(lowerCaseName);
            return it == headers.end() ? std::string() : it->second;
        }
    };
    struct Reply {
        int status = 200;
        std::string body;
        std::map<std::string, std::string> headers;
        int delayMilliseconds = 0;
        bool dropConnection = false;  // close without answering
        // When set, the body goes out one byte at a time with this pause before each byte.
        int tricklePauseMilliseconds = 0;
        // The body never ends: no Content-Length, and `body` (or filler when empty) is sent
        // again and again until the client goes away or the server stops.
        bool endless = false;
        // The body goes out as one chunk, followed by trailer lines that never end.
        bool endlessTrailer = false;
    };
    using Handler = std::function<Reply(const Request&)>;

    explicit LoopbackHttpServer(Handler handler);
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& path = "/") const;
    std::vector<Request> requests() const;
    void setHandler(Handler handler);
    // Answer as soon as the request's head has arrived, without reading its body (the
    // recorded body holds only what came with the head).
    void setAnswerBeforeBody(bool early);

  private:
    void serve();
    void handleConnection(int fd);
    void sendEndlessTrailer(int fd, std::string head, const std::string& body);

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> answerBeforeBody_{false};
    mutable std::mutex mutex_;
    Handler handler_;
    std::vector<Request> requests_;
    std::thread thread_;
};

}  // namespace velmora::test
