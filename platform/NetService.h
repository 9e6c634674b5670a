#pragma once

#include "Logger.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

struct AvahiClient;
struct AvahiEntryGroup;
struct AvahiThreadedPoll;
struct AvahiTimeout;

namespace velmora {

// One DNS service discovery announcement through the Avahi daemon, kept for as long as the
// object lives. Nothing here is fatal: a missing daemon or a name collision is logged, and a
// daemon that starts (or starts again) later gets the announcement then.
class NetService {
  public:
    using TxtRecord = std::vector<std::pair<std::string, std::string>>;

    // An empty `name` stands for the computer's host name.
    NetService(Logger log, std::string domain, std::string type, std::string name, uint16_t port,
               TxtRecord txt);
    ~NetService();
    NetService(const NetService&) = delete;
    NetService& operator=(const NetService&) = delete;

    // Starts talking to the daemon on a thread of Avahi's own; false (logged) only when that
    // thread cannot be set up at all.
    bool publish();

    // The name the service is announced under; "" while it is not (yet) established.
    std::string publishedName() const;

  private:
    struct PollDeleter {
        void operator()(AvahiThreadedPoll* poll) const;
    };

    // Avahi's callbacks, which forward to the members below.
    struct Callbacks;
    friend struct Callbacks;

    void onClientState(AvahiClient* client, int state);
    void onGroupState(AvahiEntryGroup* group, int state);
    void addService(AvahiClient* client);
    void dropGroup();
    // A new client; when even that fails, another attempt after kRetryMilliseconds.
    void connect();

    static constexpr unsigned kRetryMilliseconds = 5000;

    Logger log_;
    std::string domain_;
    std::string type_;
    std::string name_;
    uint16_t port_;
    TxtRecord txt_;
    std::unique_ptr<AvahiThreadedPoll, PollDeleter> poll_;
    // Used on Avahi's thread only (and in the destructor once that thread has stopped).
    AvahiClient* client_ = nullptr;
    AvahiEntryGroup* group_ = nullptr;
    AvahiTimeout* retry_ = nullptr;
    std::string candidateName_;
    mutable std::mutex mutex_;
    std::string publishedName_;
};

}  // namespace velmora
