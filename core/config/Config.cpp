#include "core/config/Config.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <system_error>
#include <vector>

#include <fmt/format.h>

#include "core/Deployment.h"
#include "core/config/TextFile.h"
#include "core/xml/XmlHelpers.h"
#include "platform/Logger.h"
#include "platform/UniqueFd.h"

namespace velmora {

namespace fs = std::filesystem;

namespace {

const Logger& logger() {
    static const Logger log(std::string(deployment::kLogSubsystem), "config");
    return log;
}

// Where an older installation kept the file, below the user's home folder.
constexpr const char* kOlderSetupFolder = "Library/Application Support/Velmora";
constexpr const char* kOlderSetupName = "setup.xml";

// Values are kept exactly as written: a text of blanks (a password, say) stays blanks, and a
// carriage return inside a value is not turned into a line feed.
constexpr unsigned kSetupParseFlags =
    (pugi::parse_default & ~pugi::parse_eol) | pugi::parse_ws_pcdata_single;

struct PasswordEntry {
    std::string name;
    fs::path home;
    uid_t uid = 0;
    gid_t gid = 0;
};

// getpwuid_r / getpwnam_r with a buffer that grows on ERANGE up to a bound.
template <typename Lookup>
std::optional<PasswordEntry> lookUpPasswordEntry(Lookup lookup) {
    long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    size_t size = suggested > 0 ? static_cast<size_t>(suggested) : 4096;
    constexpr size_t kMaxBuffer = 1024 * 1024;
    while (size <= kMaxBuffer) {
        std::vector<char> buffer(size);
        struct passwd entry {};
        struct passwd* result = nullptr;
        int status = lookup(&entry, buffer.data(), buffer.size(), &result);
        if (status == ERANGE) {
            size *= 2;
            continue;
        }
        if (status != 0 || result == nullptr)
            return std::nullopt;
        return PasswordEntry{result->pw_name ? result->pw_name : "",
                             result->pw_dir ? result->pw_dir : "", result->pw_uid, result->pw_gid};
    }
    return std::nullopt;
}

std::string replaceAll(std::string text, std::string_view from, std::string_view to) {
    size_t position = 0;
    while ((position = text.find(from, position)) != std::string::npos) {
        text.replace(position, from.size(), to);
        position += to.size();
    }
    return text;
}

bool pathExists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

// The setup names the service that gets the user's token and jobs, so only the user (or root)
// may have made it and nobody else may change it.
FileCheck ownedByUserOrRoot(const std::string& userName, const fs::path& path) {
    return [userName, path](const struct stat& info, std::string& reason) {
        if (info.st_uid != 0) {
            const std::optional<Config::Account> account = Config::lookUpAccount(userName);
            if (!account || account->uid != info.st_uid) {
                reason = fmt::format("{} belongs to another account (uid {}), not to {}",
                                     path.string(), info.st_uid, userName);
                return false;
            }
        }
        if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
            reason = fmt::format("{} may be written by other accounts (mode {:o})", path.string(),
                                 info.st_mode & 07777);
            return false;
        }
        // A second name could make another user's (or root's) setup this one.
        if (info.st_nlink != 1) {
            reason =
                fmt::format("{} has {} names; a setup file has one", path.string(), info.st_nlink);
            return false;
        }
        return true;
    };
}

// The folder below `home` that held an older installation's file, reached one component at a
// time without following links: a link anywhere below the home could lead to another account's
// folder.
// `failure` is the errno of the step that failed.
UniqueFd openOlderSetupFolder(const fs::path& home, int& failure) {
    UniqueFd folder(::open(home.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    failure = errno;
    for (const fs::path& component : fs::path(kOlderSetupFolder)) {
        if (!folder)
            break;
        folder = UniqueFd(::openat(folder.get(), component.c_str(),
                                   O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        failure = errno;
    }
    return folder;
}

// The older file, when it is the user's own with no other name; read through the descriptor
// that was checked.
bool readOlderSetup(int folder, const fs::path& path, const Config::Account& account,
                    std::string& text, std::string& error) {
    UniqueFd fd(::openat(folder, kOlderSetupName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        // Having no older file is the usual case and no error.
        if (errno != ENOENT)
            error = fmt::format("Cannot open {}: {}", path.string(), std::strerror(errno));
        return false;
    }
    const FileCheck usersOwn = [&](const struct stat& info, std::string& reason) {
        if (info.st_uid != account.uid || info.st_nlink != 1) {
            reason = fmt::format("{} is not the user's own file (uid {}, {} names)", path.string(),
                                 info.st_uid, info.st_nlink);
            return false;
        }
        return true;
    };
    return readTextFile(fd.get(), path, Config::kMaxSetupFileSize, usersOwn, text, error);
}

}  // namespace

Config::Config(fs::path systemDir) : systemDir_(std::move(systemDir)) {}

fs::path Config::defaultSystemDir() {
    return fs::path(VELMORA_SYSTEM_DIR);
}

bool Config::loadSetup(const std::string& userName, std::string& error) {
    fs::path path = getSetupFileNameForUser(userName);
    if (path.empty()) {
        error = "Invalid user name \"" + userName + "\"";
        return false;
    }
    if (!pathExists(path))
        migrateSetup(path, userName);
    logger().notice("Load setup: {}", path.string());
    std::string text;
    if (!readTextFile(path, kMaxSetupFileSize, ownedByUserOrRoot(userName, path), text, error))
        return false;
    return loadSetupText(text, error);
}

bool Config::loadSetupText(std::string_view text, std::string& error) {
    if (!isValidUtf8(text)) {
        error = "Setup file is not UTF-8 text";
        return false;
    }
    pugi::xml_document document;
    pugi::xml_parse_result result =
        document.load_buffer(text.data(), text.size(), kSetupParseFlags, pugi::encoding_utf8);
    if (!result) {
        error = std::string("Setup file is not well-formed XML: ") + result.description() +
                " at offset " + std::to_string(result.offset);
        return false;
    }
    pugi::xml_node root = document.document_element();
    if (!root) {
        error = "Setup file has no root element";
        return false;
    }
    loadSetupProperties(root);
    return true;
}

bool Config::saveSetup(std::string& error) const {
    std::string userName = currentUserName();
    fs::path path = getSetupFileNameForUser(userName);
    if (path.empty()) {
        error = "Invalid user name \"" + userName + "\"";
        return false;
    }
    pugi::xml_document document;
    saveSetupProperties(document.append_child("setup"));
    std::error_code ec;
    fs::create_directories(systemDir_, ec);
    if (ec) {
        error = "Cannot create " + systemDir_.string() + ": " + ec.message();
        return false;
    }
    return writeXmlFileAtomically(document, path, error, 0600);
}

bool Config::migrateSetup(const fs::path& newPath, const std::string& userName) {
    fs::path oldPath = getOlderSetupFileNameForUser(userName);
    if (oldPath.empty())
        return false;
    logger().notice("Migrating {} to {}", oldPath.string(), newPath.string());
    const std::optional<Account> account = lookUpAccount(userName);
    if (!account)
        return false;
    int failure = 0;
    const UniqueFd folder = openOlderSetupFolder(homeFolderForUser(userName), failure);
    if (!folder) {
        if (failure == ELOOP || failure == ENOTDIR)
            logger().error("Not migrating {}: a folder on the way is a link", oldPath.string());
        return false;
    }
    // Copied rather than renamed: what is written is exactly what was checked, even if the
    // name is swapped meanwhile, and it crosses file systems alike.
    std::string text;
    std::string error;
    if (!readOlderSetup(folder.get(), oldPath, *account, text, error)) {
        if (!error.empty())
            logger().error("Not migrating: {}", error);
        return false;
    }
    std::error_code ec;
    fs::create_directories(newPath.parent_path(), ec);
    const FileOwner owner = ::geteuid() == 0 ? FileOwner{account->uid, account->gid} : FileOwner{};
    if (!writeFileAtomically(newPath, text, error, 0600, owner)) {
        logger().error("Not migrating: {}", error);
        return false;
    }
    ::unlinkat(folder.get(), kOlderSetupName, 0);
    return true;
}

void Config::loadSetupProperties(pugi::xml_node root) {
    setToken(childText(root, "token"));

    std::string stored = childText(root, "service");
    std::string updated = cleanupProductionHttpServersIn(stored);
    if (updated != stored)
        logger().notice("Config: forced update `service` key from {} to {}.", stored, updated);
    setService(updated);

    setProfile(childText(root, "profile"));
    setDefaultPrinterId(childText(root, "default-printer"));
    setDefaultPaperFormat(childText(root, "default-format"));
    int width = intFromText(childText(root, "custom-paperw"));
    int height = intFromText(childText(root, "custom-paperh"));
    setCustomPaperWidth(width < 1 ? kFallbackPaperWidth : width);
    setCustomPaperHeight(height < 1 ? kFallbackPaperHeight : height);
    setDefaultBinCode(childText(root, "default-bin"));
    if (selectSingleNode(root, "encryption"))
        setEncryption(intFromText(childText(root, "encryption")));
    setEncryptionPassword(childText(root, "encryption-password"));
    setNotifyOnCompletion(boolFromText(childText(root, "notify")));
}

void Config::saveSetupProperties(pugi::xml_node root) const {
    appendElement(root, "profile", profile());
    appendElement(root, "token", token());
    appendElement(root, "service", service());
    appendElement(root, "default-printer", defaultPrinterId());
    appendElement(root, "default-format", defaultPaperFormat());
    appendElement(root, "custom-paperw", customPaperWidth());
    appendElement(root, "custom-paperh", customPaperHeight());
    appendElement(root, "default-bin", defaultBinCode());
    appendElement(root, "encryption", encryption());
    appendElement(root, "encryption-password", encryptionPassword());
    appendElement(root, "notify", notifyOnCompletion() ? 1 : 0);
}

bool Config::jobFilterContains(std::string_view stateName) const {
    std::string filter = jobFilter();
    std::string_view rest = filter;
    while (!rest.empty()) {
        size_t comma = rest.find(',');
        if (rest.substr(0, comma) == stateName)
            return true;
        if (comma == std::string_view::npos)
            break;
        rest.remove_prefix(comma + 1);
    }
    return false;
}

fs::path Config::getSetupFileNameForUser(const std::string& userName) const {
    if (!isSafeFileNameComponent(userName))
        return {};
    return systemDir_ / ("setup." + userName + ".xml");
}

fs::path Config::getOlderSetupFileNameForUser(const std::string& userName) const {
    if (!isSafeFileNameComponent(userName))
        return {};
    fs::path home = homeFolderForUser(userName);
    if (home.empty())
        return {};
    return home / kOlderSetupFolder / kOlderSetupName;
}

fs::path Config::getProfileDir() const {
    std::string name = profile();
    if (!isSafeFileNameComponent(name))
        return {};
    return systemDir_ / name;
}

std::string Config::ppdFileNameForUser(const std::string& userName) {
    return isSafeFileNameComponent(userName) ? "Velmora." + userName + ".ppd" : std::string();
}

fs::path Config::getPPDFileName() const {
    const std::string name = ppdFileNameForUser(currentUserName());
    return name.empty() ? fs::path() : systemDir_ / name;
}

fs::path Config::getMessageFileNameForUser(const std::string& userName) const {
    if (!isSafeFileNameComponent(userName))
        return {};
    return systemDir_ / ("messages." + userName + ".txt");
}

std::string Config::cleanupProductionHttpServersIn(std::string_view text) {
    std::string result(text);
    for (std::string_view host : {deployment::kDefaultServerHost, deployment::kAlternateServerHost})
        result = replaceAll(std::move(result), "http://" + std::string(host),
                            "https://" + std::string(host));
    return result;
}

bool Config::isSafeFileNameComponent(std::string_view name) {
    // Leaves room for "setup." / "messages." and the extension within NAME_MAX.
    constexpr size_t kMaxLength = 200;
    if (name.empty() || name.size() > kMaxLength || name == "." || name == "..")
        return false;
    for (char c : name) {
        if (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;
    }
    return true;
}

std::optional<Config::Account> Config::lookUpAccount(const std::string& userName) {
    auto entry = lookUpPasswordEntry(
        [&userName](struct passwd* record, char* buffer, size_t size, struct passwd** result) {
            return ::getpwnam_r(userName.c_str(), record, buffer, size, result);
        });
    if (!entry)
        return std::nullopt;
    return Account{entry->uid, entry->gid, entry->home};
}

std::string Config::currentUserName() const {
    if (!currentUserName_.empty())
        return currentUserName_;
    return userNameOf(::getuid());
}

std::string Config::userNameOf(uid_t uid) {
    auto entry = lookUpPasswordEntry(
        [uid](struct passwd* record, char* buffer, size_t size, struct passwd** result) {
            return ::getpwuid_r(uid, record, buffer, size, result);
        });
    return entry ? entry->name : std::string();
}

fs::path Config::homeFolderForUser(const std::string& userName) const {
    if (!homeFolder_.empty())
        return homeFolder_;
    const std::optional<Account> account = lookUpAccount(userName);
    return account ? account->home : fs::path();
}

std::string Config::service() const {
    std::string stored = service_.get();
    if (stored.empty())
        return deployment::defaultServiceUrl();
    return stored;
}

}  // namespace velmora
