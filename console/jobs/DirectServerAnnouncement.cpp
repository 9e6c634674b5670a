#include "console/jobs/DirectServerAnnouncement.h"

#include "core/Deployment.h"

#include <fmt/format.h>

namespace velmora::console {

std::string DirectServerAnnouncement::clientText(int versionNumber) {
    return fmt::format("Velmora/linux {}.{}.{}", versionNumber / 1000, versionNumber % 1000 / 100,
                       versionNumber % 100);
}

std::unique_ptr<NetService> DirectServerAnnouncement::registerBonjour(int versionNumber,
                                                                      uint16_t port) {
    auto service = std::make_unique<NetService>(
        Logger(std::string(deployment::kLogSubsystem), "dns-sd"), kDomain, kType, "", port,
        NetService::TxtRecord{{"client", clientText(versionNumber)}});
    service->publish();
    return service;
}

}  // namespace velmora::console
