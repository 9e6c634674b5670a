#include "console/service/ConsoleConfig.h"

#include <algorithm>

#include "console/service/PrivateFolder.h"
#include "console/service/ProfileSection.h"
#include "core/Deployment.h"
#include "core/config/TextFile.h"
#include "core/xml/XmlHelpers.h"
#include "platform/Logger.h"

namespace velmora::console {

namespace {

const Logger& logger() {
    static const Logger log(std::string(deployment::kLogSubsystem), "config");
    return log;
}

}  // namespace

ConsoleConfig::ConsoleConfig(std::filesystem::path systemDir)
    : Config(std::move(systemDir)), buyMoreUrl_(std::string(deployment::kWebSite)) {}

void ConsoleConfig::setIfDefined(bool& field, pugi::xml_node setup, const char* name) {
    if (pugi::xml_node element = setup.child(name))
        field = boolFromText(element.text().get());
}

void ConsoleConfig::loadSetupProperties(pugi::xml_node root) {
    Config::loadSetupProperties(root);

    std::string stored = childText(root, "servers");
    std::string updated = cleanupProductionHttpServersIn(stored);
    if (updated != stored)
        logger().notice("ConsoleConfig: forced update `servers` key from {} to {}.", stored,
                        updated);
    setServers(updated);
    setIfDefined(checkUpdates_, root, "check-updates");
    setJobFilter(childText(root, "job-filter"));
    setIfDefined(iconTipShown_, root, "icon-tip-shown");
    setIfDefined(defaultPrinterTipShown_, root, "default-printer-tip-shown");
    setIfDefined(likeMyPrinters_, root, "like-my-printers");
    setIfDefined(hideMyPrinters_, root, "hide-my-printers");
    setIfDefined(showDeliveryResult_, root, "delivery-result");
    setIfDefined(jobNotifications_, root, "job-notifications");
    setTranslation(childText(root, "translation"));
    setPendingTranslation(childText(root, "pending-translation"));
    setLastEmail(childText(root, "last-email"));
    setFastCheckInterval(intFromText(childText(root, "fast-check-interval")));
}

void ConsoleConfig::saveSetupProperties(pugi::xml_node root) const {
    Config::saveSetupProperties(root);
    appendElement(root, "servers", servers());
    appendElement(root, "check-updates", checkUpdates_ ? 1 : 0);
    appendElement(root, "job-filter", jobFilter());
    appendElement(root, "icon-tip-shown", iconTipShown_ ? 1 : 0);
    appendElement(root, "default-printer-tip-shown", defaultPrinterTipShown_ ? 1 : 0);
    appendElement(root, "like-my-printers", likeMyPrinters_ ? 1 : 0);
    appendElement(root, "hide-my-printers", hideMyPrinters_ ? 1 : 0);
    appendElement(root, "delivery-result", showDeliveryResult_ ? 1 : 0);
    appendElement(root, "job-notifications", jobNotifications_ ? 1 : 0);
    appendElement(root, "translation", translation());
    appendElement(root, "pending-translation", pendingTranslation());
    appendElement(root, "last-email", lastEmail());
    appendElement(root, "fast-check-interval", fastCheckInterval());
}

void ConsoleConfig::setProfileSections(ProfileSection& printers, ProfileSection& jobs) {
    printersSection_ = &printers;
    jobsSection_ = &jobs;
}

bool ConsoleConfig::loadProfileConfig() {
    const std::string name = profile();
    logger().notice("Load profile: {}", name);
    if (name.empty())
        return false;
    std::string error;
    PrivateFolder folder = PrivateFolder::open(getProfileDir(), false, error);
    std::string text;
    if (!folder ||
        !readTextFile(folder.fileInside(kProfileFileName), kMaxProfileFileSize, text, error)) {
        logger().info("Profile not read: {}", error);
        return false;
    }
    pugi::xml_document document;
    if (!parseXml(document, text, error)) {
        logger().info("Profile not read: {}", error);
        return false;
    }
    pugi::xml_node root = document.child("config");
    setProfileConfigVersion(intFromText(getAttribute(root, "version")));
    if (printersSection_ != nullptr)
        printersSection_->updateFromConfig(selectSingleNode(document, "/config/printers"));
    if (jobsSection_ != nullptr)
        jobsSection_->updateFromConfig(selectSingleNode(document, "/config/jobs"));
    return true;
}

bool ConsoleConfig::saveProfileConfig() {
    if (profile().empty())
        return false;
    pugi::xml_document document;
    pugi::xml_node root = document.append_child("config");
    setAttribute(root, "version", profileConfigVersion());
    if (printersSection_ != nullptr)
        printersSection_->saveToConfig(root);
    if (jobsSection_ != nullptr)
        jobsSection_->saveToConfig(root);

    std::string error;
    PrivateFolder folder = PrivateFolder::open(getProfileDir(), true, error);
    if (!folder ||
        !writeXmlFileAtomically(document, folder.fileInside(kProfileFileName), error, 0600)) {
        logger().error("Profile not saved: {}", error);
        return false;
    }
    return true;
}

std::filesystem::path ConsoleConfig::getLangDir() const {
    return systemDir() / "lang";
}

bool ConsoleConfig::applyPendingTranslation() {
    std::string pending = pendingTranslation();
    if (pending.empty())
        return false;
    setTranslation(std::move(pending));
    setPendingTranslation({});
    return true;
}

void ConsoleConfig::applyStartupDefaults() {
    if (fastCheckInterval() <= 0)
        setFastCheckInterval(kDefaultFastCheckInterval);
}

std::chrono::seconds ConsoleConfig::fastCheckPause() const {
    const int interval = fastCheckInterval();
    if (interval <= 0)
        return std::chrono::seconds(kDefaultFastCheckInterval);
    return std::min(std::chrono::seconds(interval), kLongestFastCheckPause);
}

}  // namespace velmora::console
