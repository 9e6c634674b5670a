#pragma once

#include <pugixml.hpp>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>

#include "core/config/AtomicString.h"
#include "core/config/Config.h"

namespace velmora::console {

class ProfileSection;

// The console's settings: the user's setup plus the console's own preferences in the same file,
// the account figures of the last sign-in (memory only), and the profile file "config.xml" in
// the profile's folder, which keeps the local printers' sharing identities and unfinished direct
// jobs between runs.
class ConsoleConfig : public Config {
  public:
    explicit ConsoleConfig(std::filesystem::path systemDir = defaultSystemDir());

    void loadSetupProperties(pugi::xml_node root) override;
    void saveSetupProperties(pugi::xml_node root) const override;

    // The lists that keep their part of the profile file; until set, their sections are
    // neither read nor written.
    void setProfileSections(ProfileSection& printers, ProfileSection& jobs);
    // True when the profile file was read. The folder must be the user's own, the file a
    // regular file of bounded size.
    bool loadProfileConfig();
    // True when the profile file was written; the folder is created private to the user.
    bool saveProfileConfig();
    std::filesystem::path getLangDir() const;

    // Start-up: a pending translation becomes the active one (true when it did, so the caller
    // saves the setup), and an interval of 0 or below becomes the default.
    bool applyPendingTranslation();
    void applyStartupDefaults();
    // The pause between two fast checks: never zero, never longer than an hour, whatever the
    // stored number.
    std::chrono::seconds fastCheckPause() const;

    // When `name` exists below `setup`, `field` takes its boolean value.
    static void setIfDefined(bool& field, pugi::xml_node setup, const char* name);

    std::string servers() const { return servers_.get(); }
    void setServers(std::string value) { servers_.set(std::move(value)); }
    bool checkUpdates() const { return checkUpdates_; }
    void setCheckUpdates(bool value) { checkUpdates_ = value; }
    std::string jobFilter() const override { return jobFilter_.get(); }
    void setJobFilter(std::string value) { jobFilter_.set(std::move(value)); }
    bool iconTipShown() const { return iconTipShown_; }
    void setIconTipShown(bool value) { iconTipShown_ = value; }
    bool defaultPrinterTipShown() const { return defaultPrinterTipShown_; }
    void setDefaultPrinterTipShown(bool value) { defaultPrinterTipShown_ = value; }
    bool likeMyPrinters() const { return likeMyPrinters_; }
    void setLikeMyPrinters(bool value) { likeMyPrinters_ = value; }
    bool hideMyPrinters() const { return hideMyPrinters_; }
    void setHideMyPrinters(bool value) { hideMyPrinters_ = value; }
    bool showDeliveryResult() const { return showDeliveryResult_; }
    void setShowDeliveryResult(bool value) { showDeliveryResult_ = value; }
    bool jobNotifications() const { return jobNotifications_; }
    void setJobNotifications(bool value) { jobNotifications_ = value; }
    std::string translation() const { return translation_.get(); }
    void setTranslation(std::string value) { translation_.set(std::move(value)); }
    std::string pendingTranslation() const { return pendingTranslation_.get(); }
    void setPendingTranslation(std::string value) { pendingTranslation_.set(std::move(value)); }
    std::string lastEmail() const override { return lastEmail_.get(); }
    void setLastEmail(std::string value) override { lastEmail_.set(std::move(value)); }
    // Read by the polling thread between checks.
    int fastCheckInterval() const { return fastCheckInterval_.load(); }
    void setFastCheckInterval(int value) { fastCheckInterval_.store(value); }
    int profileConfigVersion() const { return profileConfigVersion_; }
    void setProfileConfigVersion(int value) { profileConfigVersion_ = value; }
    std::string updateUrl() const { return updateUrl_.get(); }
    void setUpdateUrl(std::string value) { updateUrl_.set(std::move(value)); }
    std::string serverMessage() const { return serverMessage_.get(); }
    void setServerMessage(std::string value) { serverMessage_.set(std::move(value)); }
    int freePages() const { return freePages_.load(); }
    void setFreePages(int value) { freePages_.store(value); }
    std::string buyMoreUrl() const { return buyMoreUrl_.get(); }
    void setBuyMoreUrl(std::string value) { buyMoreUrl_.set(std::move(value)); }

    static constexpr int kDefaultFastCheckInterval = 10;
    static constexpr std::chrono::seconds kLongestFastCheckPause{3600};
    // The profile file holds a few hundred printers and direct jobs at most.
    static constexpr size_t kMaxProfileFileSize = size_t{16} << 20;
    static constexpr const char* kProfileFileName = "config.xml";

  private:
    ProfileSection* printersSection_ = nullptr;
    ProfileSection* jobsSection_ = nullptr;

    AtomicString servers_;
    bool checkUpdates_ = true;
    AtomicString jobFilter_;
    bool iconTipShown_ = false;
    bool defaultPrinterTipShown_ = false;
    bool likeMyPrinters_ = true;
    bool hideMyPrinters_ = false;
    bool showDeliveryResult_ = true;
    bool jobNotifications_ = true;
    AtomicString translation_;
    AtomicString pendingTranslation_;
    AtomicString lastEmail_;
    std::atomic<int> fastCheckInterval_{0};
    int profileConfigVersion_ = 0;
    AtomicString updateUrl_;
    AtomicString serverMessage_;
    std::atomic<int> freePages_{0};
    AtomicString buyMoreUrl_;
};

}  // namespace velmora::console
