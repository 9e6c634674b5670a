#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/service/UpdateOffer.h"
#include "core/net/InetProvider.h"

namespace velmora {
class PermissionArray;
class Person;
class PrinterGroup;
class RemotePrinterArray;
}  // namespace velmora

namespace velmora::console {

class ConsoleConfig;
class JobArray;
class LocalPrinter;
class LocalPrinterArray;
class Translator;

// The console's service operations: sign-in, the periodic change check, the update check,
// printer sharing and favourites, and the account and directory operations. Replies land in
// the lists handed over here. Every call blocks; the console makes them on its main thread.
class ConsoleInetProvider : public InetProvider {
  public:
    // The lists that the replies fill; all outlive the provider.
    struct Lists {
        PermissionArray& permissions;
        RemotePrinterArray& remotePrinters;
        LocalPrinterArray& localPrinters;
        JobArray& jobs;
    };

    ConsoleInetProvider(ConsoleConfig& config, Person& currentUser, Lists lists,
                        const Translator& translator);

    const std::string& fastCheckTimestamp() const { return fastCheckTimestamp_; }
    void setFastCheckTimestamp(std::string marker) { fastCheckTimestamp_ = std::move(marker); }

    // One change check. False with the reason when it failed; lists and marker then stay as
    // they were. `changed`: a list or figure was updated; `relogin`: sign in with the token
    // again.
    bool fastCheck(bool& changed, bool& relogin, std::string& error);
    // The download address of a newer version with its description in `text`, or nullopt
    // with the reason in `text`.
    std::optional<std::string> checkUpdates(std::string& text);
    // The same check, with everything the offer announced; the reason in `text` when none.
    std::optional<UpdateOffer> checkUpdateOffer(std::string& text);

    bool login(const std::string& loginName, const std::string& password,
               const std::string& service, std::string& error);
    bool loginWithToken(std::string& error);
    void logoff();

    bool changePrinter(const std::string& publicId, const std::string& action, std::string& error);
    bool likePrinter(const std::string& publicId, std::string& error);
    bool addSharePrinter(const LocalPrinter& printer, std::string& error);

    bool userRegister(const std::string& mail, const std::string& service, int groupId,
                      std::string& error);
    bool updateProfile(std::string& error);
    bool changePassword(const std::string& oldPassword, const std::string& newPassword,
                        std::string& error);
    bool passwordReminder(const std::string& mail, const std::string& service, std::string& error);
    // `code` nullopt removes the rule; `personId` 0 is the rule for anyone.
    bool setPermission(const std::optional<std::string>& code, int personId, std::string& error);
    // Appends one person per user found.
    bool searchUsers(const std::string& keyword, std::vector<Person>& users, std::string& error);
    // Replaces `printers` with the printers found.
    bool searchPrinters(const std::string& keyword, bool online, RemotePrinterArray& printers,
                        std::string& error);
    bool getServerConfig(const std::string& service, std::vector<PrinterGroup>& groups,
                         std::map<std::string, std::string>& properties, std::string& error);

    // The change check's address for a service URL and marker: the service's scheme, host and
    // port, the marker percent-encoded.
    static std::string fastCheckUrl(std::string_view serviceUrl, std::string_view marker);
    // Everything outside the unreserved characters of URLs as %XX.
    static std::string percentEncode(std::string_view text);
    // "1.7.2 (10.0 Mb)" for version 1702 and 10240 kilobytes.
    static std::string updateDescription(int version, double kilobytes);

    // The update description's element for this platform.
    static constexpr const char* kUpdatePlatform = "linux";

  private:
    // A GET whose answer is bounded like a service reply; the body of a 200 answer.
    std::optional<std::string> boundedDownload(const std::string& url, const Headers* headers,
                                               std::string& error) const;

    ConsoleConfig& consoleConfig_;
    Lists lists_;
    const Translator& translator_;
    std::string fastCheckTimestamp_;
};

}  // namespace velmora::console
