#include "tests/support/ReferenceService.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <stdexcept>

#include "core/net/HttpClient.h"

extern char** environ;

namespace velmora::test {

namespace {

// Reads the first line the service prints (its port), waiting at most `seconds`.
std::string readFirstLine(int fd, int seconds) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (line.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd waiting{fd, POLLIN, 0};
        if (::poll(&waiting, 1, static_cast<int>(left.count())) <= 0)
            break;
        char buffer[64];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        line.append(buffer, static_cast<size_t>(n));
    }
    return line.substr(0, line.find('\n'));
}

}  // namespace

std::string ReferenceService::scriptPath() {
    return VELMORA_REFSERVICE_SCRIPT;
}

ReferenceService::ReferenceService(const std::string& seedJson,
                                   const std::vector<std::string>& extraArguments) {
    char pattern[] = "/tmp/velmora-seed-XXXXXX";
    const int seedFd = ::mkstemp(pattern);
    if (seedFd < 0)
        throw std::runtime_error("cannot create seed file");
    ::close(seedFd);
    seedPath_ = pattern;
    std::ofstream(seedPath_) << seedJson;

    std::vector<std::string> arguments = {"python3", scriptPath(), "--port",
                                          "0",       "--seed",     seedPath_};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    const int spawned = posix_spawnp(&pid_, "python3", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        throw std::runtime_error("cannot start the reference service");
    }
    const std::string line = readFirstLine(pipeFds[0], 20);
    ::close(pipeFds[0]);
    port_ = std::atoi(line.c_str());
    if (port_ <= 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        throw std::runtime_error("the reference service did not report its port: '" + line + "'");
    }
}

ReferenceService::~ReferenceService() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    if (!seedPath_.empty())
        ::unlink(seedPath_.c_str());
}

std::string ReferenceService::get(const std::string& path) const {
    HttpClient::Request request;
    request.url = baseUrl() + path;
    HttpClient::Response response = HttpClient::perform(request);
    if (!response.transportOk || response.status != 200) {
        throw std::runtime_error("GET " + path + " failed: " + response.error + " " +
                                 std::to_string(response.status));
    }
    return response.body;
}

std::string ReferenceService::post(const std::string& path, const std::string& json) const {
    HttpClient::Request request;
    request.method = "POST";
    request.url = baseUrl() + path;
    request.headers = {{"Content-Type", "application/json"}};
    request.body = json;
    HttpClient::Response response = HttpClient::perform(request);
    if (!response.transportOk || response.status != 200) {
        throw std::runtime_error("POST " + path + " failed: " + response.error + " " +
                                 std::to_string(response.status) + " " + response.body);
    }
    return response.body;
}

}  // namespace velmora::test
