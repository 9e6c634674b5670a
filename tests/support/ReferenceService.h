#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace velmora::test {

// The reference service as a real process on a free loopback port, for tests that talk to the
// service the way the programs do. Stopped (SIGTERM, then waited for) on destruction.
class ReferenceService {
  public:
    // `seedJson` is written to a scratch file and passed with --seed; `extraArguments` go after.
    explicit ReferenceService(const std::string& seedJson,
                              const std::vector<std::string>& extraArguments = {});
    ~ReferenceService();
    ReferenceService(const ReferenceService&) = delete;
    ReferenceService& operator=(const ReferenceService&) = delete;

    int port() const { return port_; }
    std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::string serviceUrl() const { return baseUrl() + "/tdService.asmx"; }

    // GET or POST on the service's own test endpoints ("/_ref/state", ...): the body of a
    // 200 answer; throws otherwise.
    std::string get(const std::string& path) const;
    std::string post(const std::string& path, const std::string& json) const;

    static std::string scriptPath();

  private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::string seedPath_;
};

}  // namespace velmora::test
