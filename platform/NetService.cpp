#include "NetService.h"

#include "Logger.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/timeval.h>

namespace velmora {

namespace {

struct StringListDeleter {
    void operator()(AvahiStringList* list) const { avahi_string_list_free(list); }
};

}  // namespace

struct NetService::Callbacks {
    static void client(AvahiClient* client, AvahiClientState state, void* self) {
        static_cast<NetService*>(self)->onClientState(client, state);
    }
    static void group(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self) {
        static_cast<NetService*>(self)->onGroupState(group, state);
    }
    static void retry(AvahiTimeout*, void* self) { static_cast<NetService*>(self)->connect(); }
};

void NetService::PollDeleter::operator()(AvahiThreadedPoll* poll) const {
    avahi_threaded_poll_free(poll);
}

NetService::NetService(Logger log, std::string domain, std::string type, std::string name,
                       uint16_t port, TxtRecord txt)
    : log_(std::move(log)),
      domain_(std::move(domain)),
      type_(std::move(type)),
      name_(std::move(name)),
      port_(port),
      txt_(std::move(txt)) {}

NetService::~NetService() {
    if (!poll_)
        return;
    avahi_threaded_poll_stop(poll_.get());
    // The client frees its groups with it.
    if (client_ != nullptr)
        avahi_client_free(client_);
}

bool NetService::publish() {
    if (poll_)
        return true;
    poll_.reset(avahi_threaded_poll_new());
    if (!poll_) {
        log_.error("DNS-SD announcement not possible: no Avahi event loop");
        return false;
    }
    // Nothing else runs on the poll yet, so no lock is needed for the first attempt.
    connect();
    if (avahi_threaded_poll_start(poll_.get()) < 0) {
        log_.error("DNS-SD announcement not possible: the Avahi thread did not start");
        if (client_ != nullptr)
            avahi_client_free(client_);
        client_ = nullptr;
        return false;
    }
    return true;
}

void NetService::connect() {
    int error = 0;
    // Without a daemon the client waits for one instead of failing.
    client_ = avahi_client_new(avahi_threaded_poll_get(poll_.get()), AVAHI_CLIENT_NO_FAIL,
                               &Callbacks::client, this, &error);
    if (client_ != nullptr)
        return;
    // Without a system bus at all the client cannot even wait; try again in a while.
    log_.error("DNS-SD announcement not possible now: {}", avahi_strerror(error));
    const AvahiPoll* api = avahi_threaded_poll_get(poll_.get());
    timeval when{};
    avahi_elapse_time(&when, kRetryMilliseconds, 0);
    if (retry_ != nullptr)
        api->timeout_update(retry_, &when);
    else
        retry_ = api->timeout_new(api, &when, &Callbacks::retry, this);
}

std::string NetService::publishedName() const {
    std::lock_guard lock(mutex_);
    return publishedName_;
}

void NetService::dropGroup() {
    if (group_ != nullptr)
        avahi_entry_group_free(group_);
    group_ = nullptr;
    std::lock_guard lock(mutex_);
    publishedName_.clear();
}

void NetService::onClientState(AvahiClient* client, int state) {
    switch (state) {
        case AVAHI_CLIENT_S_RUNNING:
            addService(client);
            break;
        case AVAHI_CLIENT_S_COLLISION:
        case AVAHI_CLIENT_S_REGISTERING:
            // The host name changes; the service comes back once the daemon runs again.
            dropGroup();
            break;
        case AVAHI_CLIENT_CONNECTING:
            log_.notice("DNS-SD: waiting for the Avahi daemon");
            dropGroup();
            break;
        case AVAHI_CLIENT_FAILURE:
            log_.error("DNS-SD: Avahi client failed: {}",
                       avahi_strerror(avahi_client_errno(client)));
            dropGroup();
            // The daemon went away: a new client waits for it to come back.
            if (avahi_client_errno(client) == AVAHI_ERR_DISCONNECTED) {
                avahi_client_free(client);
                client_ = nullptr;
                connect();
            }
            break;
        default:
            break;
    }
}

void NetService::addService(AvahiClient* client) {
    if (group_ != nullptr)
        return;
    client_ = client;
    if (candidateName_.empty()) {
        const char* host = avahi_client_get_host_name(client);
        candidateName_ = !name_.empty() ? name_ : (host != nullptr ? host : "Velmora");
    }
    group_ = avahi_entry_group_new(client, &Callbacks::group, this);
    if (group_ == nullptr) {
        log_.error("DNS-SD: cannot create an entry group: {}",
                   avahi_strerror(avahi_client_errno(client)));
        return;
    }
    AvahiStringList* list = nullptr;
    for (auto it = txt_.rbegin(); it != txt_.rend(); ++it)
        list = avahi_string_list_add_pair(list, it->first.c_str(), it->second.c_str());
    const std::unique_ptr<AvahiStringList, StringListDeleter> txt(list);
    int result = avahi_entry_group_add_service_strlst(
        group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0), candidateName_.c_str(),
        type_.c_str(), domain_.c_str(), nullptr, port_, txt.get());
    if (result == AVAHI_ERR_COLLISION) {
        onGroupState(group_, AVAHI_ENTRY_GROUP_COLLISION);
        return;
    }
    if (result >= 0)
        result = avahi_entry_group_commit(group_);
    if (result < 0) {
        log_.error("DNS-SD: cannot announce {}: {}", type_, avahi_strerror(result));
        dropGroup();
    }
}

void NetService::onGroupState(AvahiEntryGroup* group, int state) {
    switch (state) {
        case AVAHI_ENTRY_GROUP_ESTABLISHED: {
            log_.notice("DNS-SD: announced {} as \"{}\" on port {}", type_, candidateName_, port_);
            std::lock_guard lock(mutex_);
            publishedName_ = candidateName_;
            break;
        }
        case AVAHI_ENTRY_GROUP_COLLISION: {
            char* alternative = avahi_alternative_service_name(candidateName_.c_str());
            log_.notice("DNS-SD: the name \"{}\" is taken, trying \"{}\"", candidateName_,
                        alternative);
            candidateName_ = alternative;
            avahi_free(alternative);
            AvahiClient* client = avahi_entry_group_get_client(group);
            dropGroup();
            addService(client);
            break;
        }
        case AVAHI_ENTRY_GROUP_FAILURE:
            log_.error("DNS-SD: announcement failed: {}",
                       avahi_strerror(avahi_client_errno(avahi_entry_group_get_client(group))));
            break;
        default:
            break;
    }
}

}  // namespace velmora
