#pragma once

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/net/HttpClient.h"
#include "tests/support/ChildProcess.h"

namespace velmora::test {

// The reference service in a process of its own on a free loopback port, with its control
// endpoints for arranging faults and reading back what it received.
class RefServiceProcess {
  public:
    using Tree = boost::property_tree::ptree;

    RefServiceProcess(const std::filesystem::path& seedFile, std::vector<std::string> options,
                      const std::filesystem::path& logFile) {
        std::vector<std::string> arguments = {
            VELMORA_PYTHON, VELMORA_REFSERVICE_SCRIPT, "--port", "0", "--seed", seedFile.string()};
        arguments.insert(arguments.end(), options.begin(), options.end());
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        std::vector<std::string> environment =
            ChildProcess::environmentWith({{"PYTHONDONTWRITEBYTECODE", "1"}});
        std::vector<char*> argv = ChildProcess::pointers(arguments);
        std::vector<char*> envp = ChildProcess::pointers(environment);
        const int spawned =
            posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        if (spawned != 0) {
            ::close(fds[0]);
            pid_ = -1;
            throw std::runtime_error("cannot start the reference service");
        }
        port_ = readPort(fds[0]);
        ::close(fds[0]);
        if (port_ <= 0) {
            stop();
            throw std::runtime_error("the reference service did not start: " +
                                     ScratchDirectory::readFile(logFile));
        }
    }
    ~RefServiceProcess() { stop(); }
    RefServiceProcess(const RefServiceProcess&) = delete;
    RefServiceProcess& operator=(const RefServiceProcess&) = delete;

    int port() const { return port_; }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::string serviceUrl() const { return base() + "/tdService.asmx"; }

    HttpClient::Response get(const std::string& path) const {
        HttpClient::Request request;
        request.url = base() + path;
        return HttpClient::perform(request);
    }
    HttpClient::Response post(const std::string& path, const std::string& json) const {
        HttpClient::Request request;
        request.method = "POST";
        request.url = base() + path;
        request.headers["Content-Type"] = "application/json";
        request.body = json;
        return HttpClient::perform(request);
    }
    void addFault(const std::string& json) const { expectOk(post("/_ref/fault", json)); }
    void seed(const std::string& json) const { expectOk(post("/_ref/seed", json)); }

    Tree state() const {
        HttpClient::Response response = get("/_ref/state?requests=0");
        expectOk(response);
        std::istringstream in(response.body);
        Tree tree;
        boost::property_tree::read_json(in, tree);
        return tree;
    }
    // The jobs array of a state, in creation order.
    static std::vector<Tree> jobs(const Tree& state) {
        std::vector<Tree> list;
        for (const auto& [unused, job] : state.get_child("jobs"))
            list.push_back(job);
        return list;
    }
    // Journal entries of one kind ("upload", "direct-post", "soap", ...).
    std::vector<Tree> requests(const std::string& kind) const {
        HttpClient::Response response = get("/_ref/requests?kind=" + kind);
        expectOk(response);
        std::istringstream in(response.body);
        Tree tree;
        boost::property_tree::read_json(in, tree);
        std::vector<Tree> list;
        for (const auto& [unused, entry] : tree.get_child("requests"))
            list.push_back(entry);
        return list;
    }
    // The bytes of one page as the service stored it.
    std::string page(int jobId, int pageNumber) const {
        HttpClient::Response response =
            get("/_ref/page?job=" + std::to_string(jobId) + "&page=" + std::to_string(pageNumber));
        expectOk(response);
        return response.body;
    }

  private:
    static void expectOk(const HttpClient::Response& response) {
        if (!response.transportOk || response.status != 200)
            throw std::runtime_error("control request failed: " + response.error + " " +
                                     std::to_string(response.status) + " " + response.body);
    }

    static int readPort(int fd) {
        std::string line;
        while (line.find('\n') == std::string::npos) {
            pollfd waiting{fd, POLLIN, 0};
            if (::poll(&waiting, 1, 30000) <= 0)
                return -1;
            char buffer[64];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                return -1;
            line.append(buffer, static_cast<size_t>(n));
        }
        return std::atoi(line.c_str());
    }

    void stop() {
        if (pid_ <= 0)
            return;
        ChildProcess::terminate(pid_, "the reference service");
        pid_ = -1;
    }

    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace velmora::test
