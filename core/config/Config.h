#pragma once

#include <sys/types.h>
#include <pugixml.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "core/config/AtomicString.h"

namespace velmora {

// One local user's setup for the service: the session token, the service address, the profile
// and the defaults of the jobs the user sends. It lives in "setup.<user>.xml" in the shared
// folder, where the console (running as the user) and the sender (started by the print system)
// both find it. The console's settings subclass adds its own elements to the same file.
//
// Every path is formed from systemDir(), which defaults to the compiled-in shared folder; tests
// and packaging point it elsewhere through the constructor or setSystemDir().
class Config {
  public:
    explicit Config(std::filesystem::path systemDir = defaultSystemDir());
    virtual ~Config() = default;
    Config(const Config&) = delete;
    Config& operator=(const Config&) = delete;

    static std::filesystem::path defaultSystemDir();

    // Reads the setup file of `userName`, first moving an older per-home file into place when
    // the setup file does not exist. False, with every setting unchanged, when the file is
    // missing, unreadable, not UTF-8 or not well-formed XML, and when it belongs to an account
    // other than `userName`'s or root's or another account may write it: it names the service
    // that receives the user's jobs and token.
    bool loadSetup(const std::string& userName, std::string& error);
    // The same as loadSetup() from text already read.
    bool loadSetupText(std::string_view text, std::string& error);
    // Writes the setup file of the user running the process (mode 0600: it holds the token).
    bool saveSetup(std::string& error) const;
    // Moves an older installation's file to `newPath`. True when a file was moved. Only a
    // regular file of the user's own, reached without following a link below the home folder,
    // is moved; it arrives as the user's, mode 0600.
    bool migrateSetup(const std::filesystem::path& newPath, const std::string& userName);

    // Reads this class's elements from the root element; subclasses read theirs after calling it.
    virtual void loadSetupProperties(pugi::xml_node root);
    // Appends this class's elements in file order; subclasses append theirs after calling it.
    virtual void saveSetupProperties(pugi::xml_node root) const;

    // True when the comma-separated jobFilter() lists `stateName` exactly.
    bool jobFilterContains(std::string_view stateName) const;
    // The states the job list hides; the base class keeps none.
    virtual std::string jobFilter() const { return {}; }

    // Paths; empty when the user name or profile cannot safely name a file.
    std::filesystem::path getSetupFileNameForUser(const std::string& userName) const;
    std::filesystem::path getOlderSetupFileNameForUser(const std::string& userName) const;
    std::filesystem::path getProfileDir() const;
    // The current user's generated PPD: one per user, since each may only replace their own
    // files in the shared folder.
    std::filesystem::path getPPDFileName() const;
    std::filesystem::path getMessageFileNameForUser(const std::string& userName) const;

    // Upgrades "http://" before the production hosts to "https://".
    static std::string cleanupProductionHttpServersIn(std::string_view text);
    // A user or profile name that can be one component of a file name in the shared folder.
    static bool isSafeFileNameComponent(std::string_view name);
    // "Velmora.<user>.ppd"; "" when the user name cannot name a file.
    static std::string ppdFileNameForUser(const std::string& userName);

    const std::filesystem::path& systemDir() const { return systemDir_; }
    void setSystemDir(std::filesystem::path dir) { systemDir_ = std::move(dir); }
    // An account of the password database.
    struct Account {
        uid_t uid = 0;
        gid_t gid = 0;
        std::filesystem::path home;
    };
    static std::optional<Account> lookUpAccount(const std::string& userName);
    // The login name of `uid`; "" when the password database has none.
    static std::string userNameOf(uid_t uid);

    // Login name of the process's user (from the password database unless set).
    std::string currentUserName() const;
    void setCurrentUserName(std::string name) { currentUserName_ = std::move(name); }
    // Home folder that holds a user's older setup file (from the password database unless set;
    // when set, it is used for every user).
    std::filesystem::path homeFolderForUser(const std::string& userName) const;
    void setHomeFolder(std::filesystem::path home) { homeFolder_ = std::move(home); }

    // The stored service address, or the default one when none is stored.
    virtual std::string service() const;
    virtual void setService(std::string value) { service_.set(std::move(value)); }
    // The base class keeps no e-mail address; the console's settings do.
    virtual std::string lastEmail() const { return {}; }
    virtual void setLastEmail(std::string) {}

    std::string token() const { return token_.get(); }
    void setToken(std::string value) { token_.set(std::move(value)); }
    std::string profile() const { return profile_.get(); }
    void setProfile(std::string value) { profile_.set(std::move(value)); }
    std::string defaultPrinterId() const { return defaultPrinterId_.get(); }
    void setDefaultPrinterId(std::string value) { defaultPrinterId_.set(std::move(value)); }
    std::string defaultPaperFormat() const { return defaultPaperFormat_.get(); }
    void setDefaultPaperFormat(std::string value) { defaultPaperFormat_.set(std::move(value)); }
    int customPaperWidth() const { return customPaperWidth_; }
    void setCustomPaperWidth(int value) { customPaperWidth_ = value; }
    int customPaperHeight() const { return customPaperHeight_; }
    void setCustomPaperHeight(int value) { customPaperHeight_ = value; }
    std::string defaultBinCode() const { return defaultBinCode_.get(); }
    void setDefaultBinCode(std::string value) { defaultBinCode_.set(std::move(value)); }
    int encryption() const { return encryption_; }
    void setEncryption(int value) { encryption_ = value; }
    std::string encryptionPassword() const { return encryptionPassword_.get(); }
    void setEncryptionPassword(std::string value) { encryptionPassword_.set(std::move(value)); }
    bool notifyOnCompletion() const { return notifyOnCompletion_; }
    void setNotifyOnCompletion(bool value) { notifyOnCompletion_ = value; }

    // 216.0 mm x 279.0 mm, in tenths of a millimetre.
    static constexpr int kFallbackPaperWidth = 2160;
    static constexpr int kFallbackPaperHeight = 2790;
    // A setup file is a few kilobytes; anything beyond this is not one.
    static constexpr size_t kMaxSetupFileSize = 1024 * 1024;

  private:
    std::filesystem::path systemDir_;
    std::string currentUserName_;
    std::filesystem::path homeFolder_;

    // Strings may be read by worker threads while the main thread replaces them.
    AtomicString token_;
    AtomicString service_;
    AtomicString profile_;
    AtomicString defaultPrinterId_;
    AtomicString defaultPaperFormat_;
    int customPaperWidth_ = 0;
    int customPaperHeight_ = 0;
    AtomicString defaultBinCode_;
    int encryption_ = 2;
    AtomicString encryptionPassword_;
    bool notifyOnCompletion_ = false;
};

}  // namespace velmora
