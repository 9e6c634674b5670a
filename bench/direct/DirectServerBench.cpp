// Speed of the direct print server, measured, never asserted:
//  1. A 100 MiB page posted over loopback in ranges of 131,071 bytes (what the sender uses) and
//     of 1 MiB, against the server and against a minimal sink that reads the same requests
//     with the same parser and writes the same bytes to the same folder, one blocking
//     connection at a time.
//  2. 32 clients uploading and 200 idle connections, with the console's limits: how long
//     "/printers" takes meanwhile, and the server's memory.
// Each server runs in a child process of its own, so its memory is its own.
#include "console/jobs/DirectPageRequest.h"
#include "console/jobs/HTTPServer.h"
#include "console/jobs/HttpRequestReader.h"
#include "platform/FileIo.h"
#include "platform/UniqueFd.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace velmora;
using namespace velmora::console;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int64_t kPageBytes = 100 * 1024 * 1024;

class NoProcessor : public JobDispatcher {
    void dispatchJobs() override {}
};

struct Child {
    pid_t pid = -1;
    uint16_t port = 0;
    void stop() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        pid = -1;
    }
};

// Runs `serve` in a child process; it writes its port to the pipe and never returns.
template <typename Serve>
Child fork(Serve serve) {
    int fds[2];
    if (::pipe(fds) != 0)
        std::exit(1);
    Child child;
    child.pid = ::fork();
    if (child.pid == 0) {
        // A bench that dies (or is cut short) takes its servers with it.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::close(fds[0]);
        serve(fds[1]);
        std::_Exit(0);
    }
    ::close(fds[1]);
    if (::read(fds[0], &child.port, sizeof child.port) != sizeof child.port)
        std::exit(1);
    ::close(fds[0]);
    return child;
}

// The server as the console runs it (its limits too), with `directJobs` jobs already open (ids 1,
// 2, ...).
Child startServer(const fs::path& folder, int directJobs) {
    return fork([&](int portPipe) {
        int argc = 1;
        char name[] = "bench-server";
        char* argv[] = {name, nullptr};
        QCoreApplication app(argc, argv);
        NoProcessor processor;
        JobArray jobs(processor, {[folder] { return folder; }, {}});
        LocalPrinterArray printers("/nonexistent/cups.sock");
        for (int i = 0; i < directJobs; ++i) {
            pugi::xml_document data;
            data.append_child("data").append_child("job").append_child("printer").text().set("x");
            jobs.startReceivingPtpJob(data.document_element());
        }
        HTTPServer server(jobs, printers);
        server.registerDefaultHandlers();
        if (!server.start(0, QHostAddress::LocalHost))
            std::_Exit(1);
        const uint16_t port = server.serverPort();
        if (::write(portPipe, &port, sizeof port) != sizeof port)
            std::_Exit(1);
        app.exec();
    });
}

// The least a server can do: the same parser and the same header parsing, one blocking
// connection at a time, the body written to the file as it arrives.
Child startSink(const fs::path& folder) {
    return fork([&](int portPipe) {
        UniqueFd listener(::socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener.get(), 64) != 0 ||
            ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            std::_Exit(1);
        }
        const uint16_t port = ntohs(address.sin_port);
        if (::write(portPipe, &port, sizeof port) != sizeof port)
            std::_Exit(1);
        fs::create_directories(folder / "Sink");
        const std::string path = (folder / "Sink" / "1.emf").string();
        std::vector<char> buffer(256 * 1024);
        while (true) {
            UniqueFd connection(::accept(listener.get(), nullptr, nullptr));
            HttpRequestReader reader(16 * 1024);
            UniqueFd file;
            bool done = false;
            while (!done) {
                const ssize_t got = ::recv(connection.get(), buffer.data(), buffer.size(), 0);
                if (got <= 0)
                    break;
                reader.append(std::string_view(buffer.data(), static_cast<size_t>(got)));
                for (auto event = reader.next(); event != HttpRequestReader::Event::kNeedMore;
                     event = reader.next()) {
                    if (event == HttpRequestReader::Event::kHead) {
                        const auto range = DirectPageRequest::parseContentRange(
                            reader.head().headerForKey("content-range").value_or(""));
                        const int64_t first = range ? range->first : 0;
                        file = UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT, 0600));
                        ::lseek(file.get(), first, SEEK_SET);
                    } else if (event == HttpRequestReader::Event::kBody) {
                        writeFully(file.get(), reader.body().data(), reader.body().size());
                    } else {
                        done = true;
                        break;
                    }
                }
            }
            file.close();
            const char ok[] = "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
            ::send(connection.get(), ok, sizeof ok - 1, MSG_NOSIGNAL);
        }
    });
}

UniqueFd connectTo(uint16_t port) {
    UniqueFd socket(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return UniqueFd();
    return socket;
}

// Sends one request and reads the answer to the end; its status, 0 for none.
int exchange(uint16_t port, const std::string& head, std::string_view body) {
    UniqueFd socket = connectTo(port);
    if (!socket || !writeFully(socket.get(), head.data(), head.size()) ||
        !writeFully(socket.get(), body.data(), body.size())) {
        return 0;
    }
    std::string answer;
    char buffer[4096];
    for (ssize_t got; (got = ::recv(socket.get(), buffer, sizeof buffer, 0)) > 0;)
        answer.append(buffer, static_cast<size_t>(got));
    return answer.size() > 12 ? std::atoi(answer.c_str() + 9) : 0;
}

std::string postHead(int job, int page, int64_t first, size_t size, int64_t total) {
    return "POST /post HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: binary\r\nTD-Job: " +
           std::to_string(job) + "\r\nTD-Page: " + std::to_string(page) + "/3\r\n" +
           "Content-Range: bytes " + std::to_string(first) + "-" +
           std::to_string(first + static_cast<int64_t>(size) - 1) + "/" + std::to_string(total) +
           "\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n";
}

// Posts `page` to job 1, page 1, in ranges of `chunk`; seconds taken, or -1 on a refusal.
double postPage(uint16_t port, const std::string& page, size_t chunk) {
    const auto start = Clock::now();
    for (size_t at = 0; at < page.size(); at += chunk) {
        const size_t size = std::min(chunk, page.size() - at);
        const std::string head =
            postHead(1, 1, static_cast<int64_t>(at), size, static_cast<int64_t>(page.size()));
        if (exchange(port, head, std::string_view(page).substr(at, size)) != 200)
            return -1;
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

std::string memoryOf(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string result;
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS") || line.starts_with("VmHWM"))
            result += line.substr(0, line.find(':')) + " " +
                      line.substr(line.find_first_not_of(" \t", line.find(':') + 1)) + "  ";
    }
    return result;
}

void throughput(const fs::path& folder, int runs) {
    std::string page(static_cast<size_t>(kPageBytes), '\0');
    for (size_t i = 0; i < page.size(); ++i)
        page[i] = static_cast<char>(i * 7 % 251);
    for (size_t chunk : {size_t{131071}, size_t{1048576}}) {
        std::vector<double> server;
        std::vector<double> sink;
        for (int run = 0; run < runs; ++run) {
            // Each side starts on a clean page cache: otherwise one would pay for writing back
            // what the other wrote just before. Which goes first alternates, for the same reason.
            auto measureServer = [&] {
                fs::remove_all(folder / "DirectJob1");
                ::sync();
                Child child = startServer(folder, 1);
                server.push_back(postPage(child.port, page, chunk));
                child.stop();
            };
            auto measureSink = [&] {
                fs::remove_all(folder / "Sink");
                ::sync();
                Child child = startSink(folder);
                sink.push_back(postPage(child.port, page, chunk));
                child.stop();
            };
            if (run % 2 == 0) {
                measureServer();
                measureSink();
            } else {
                measureSink();
                measureServer();
            }
        }
        const double mib = static_cast<double>(kPageBytes) / (1024 * 1024);
        auto spread = [mib](const std::vector<double>& seconds) {
            const auto [fastest, slowest] = std::minmax_element(seconds.begin(), seconds.end());
            return std::to_string(static_cast<int>(mib / *slowest)) + "-" +
                   std::to_string(static_cast<int>(mib / *fastest));
        };
        std::printf(
            "ranges of %7zu bytes: server %7.1f MiB/s (%s), sink %7.1f MiB/s (%s), ratio %.2f "
            "(medians of %d runs)\n",
            chunk, mib / median(server), spread(server).c_str(), mib / median(sink),
            spread(sink).c_str(), median(sink) / median(server), runs);
    }
    fs::remove_all(folder / "DirectJob1");
    fs::remove_all(folder / "Sink");
}

double percentile(std::vector<double> values, double share) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t at = static_cast<size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(at, values.size() - 1)];
}

void underLoad(const fs::path& folder) {
    constexpr int kUploaders = 32;
    constexpr int kIdle = 200;
    constexpr size_t kChunk = 131071;
    constexpr int64_t kUploadBytes = 24 * 1024 * 1024;
    const HTTPServer::Limits limits;
    Child child = startServer(folder, kUploaders / 2);
    std::vector<UniqueFd> idle;
    for (int i = 0; i < kIdle; ++i)
        idle.push_back(connectTo(child.port));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::string idleMemory = memoryOf(child.pid);

    const std::string piece(kChunk, 'p');
    std::atomic<int> running{kUploaders};
    std::atomic<int> refused{0};
    std::vector<std::thread> uploaders;
    for (int i = 0; i < kUploaders; ++i) {
        uploaders.emplace_back([&, i] {
            for (int64_t at = 0; at < kUploadBytes; at += kChunk) {
                const size_t size =
                    static_cast<size_t>(std::min<int64_t>(kChunk, kUploadBytes - at));
                if (exchange(child.port, postHead(i / 2 + 1, i % 2 + 1, at, size, kUploadBytes),
                             std::string_view(piece).substr(0, size)) != 200) {
                    ++refused;
                    break;
                }
            }
            --running;
        });
    }
    std::vector<double> latencies;
    std::vector<int> statuses;
    std::string peakMemory;
    // At least a few probes, also when every uploader was turned away at once.
    while (running > 0 || statuses.size() < 5) {
        const auto start = Clock::now();
        statuses.push_back(exchange(child.port, "GET /printers HTTP/1.1\r\nHost: x\r\n\r\n", ""));
        latencies.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        peakMemory = memoryOf(child.pid);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    for (std::thread& uploader : uploaders)
        uploader.join();
    const long ok = std::count(statuses.begin(), statuses.end(), 200);
    const long late =
        std::count_if(latencies.begin(), latencies.end(), [](double ms) { return ms > 100; });
    const auto other =
        std::find_if(statuses.begin(), statuses.end(), [](int s) { return s != 200; });
    std::printf(
        "limits %zu requests / %zu waiting; %d uploading (%d refused), %d idle: /printers "
        "answered 200 %ld of %zu times (else %d); ms: median %.1f, p90 %.1f, p99 %.1f, worst "
        "%.1f; %ld over 100 ms\nserver with the idle connections: %s\nserver at the end: %s\n",
        limits.maxConnections, limits.maxWaitingConnections, kUploaders, refused.load(), kIdle, ok,
        statuses.size(), other != statuses.end() ? *other : 200, percentile(latencies, 0.5),
        percentile(latencies, 0.9), percentile(latencies, 0.99), percentile(latencies, 1.0), late,
        idleMemory.c_str(), peakMemory.c_str());
    child.stop();
    for (int job = 1; job <= kUploaders / 2; ++job)
        fs::remove_all(folder / ("DirectJob" + std::to_string(job)));
}

}  // namespace

int main(int argc, char** argv) {
    // A refused client's server closes while it still sends; that is counted, not fatal.
    ::signal(SIGPIPE, SIG_IGN);
    const fs::path folder =
        argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "velmora-bench";
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    fs::create_directories(folder);
    // "serve" (or "sink"): only the server, with one job open (or only the sink), until killed,
    // for tracing by hand.
    if (argc > 3 && (std::string(argv[3]) == "serve" || std::string(argv[3]) == "sink")) {
        Child child = std::string(argv[3]) == "serve" ? startServer(folder, 1) : startSink(folder);
        std::printf("pid %d port %u\n", child.pid, child.port);
        std::fflush(stdout);
        ::waitpid(child.pid, nullptr, 0);
        return 0;
    }
    std::printf("folder %s\n", folder.c_str());
    throughput(folder, runs);
    underLoad(folder);
    return 0;
}
