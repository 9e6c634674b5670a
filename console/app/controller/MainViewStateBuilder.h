#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "console/app/MainViewUi.h"

namespace velmora {
class Person;
class RemotePrinter;
class RemotePrinterArray;
}  // namespace velmora

namespace velmora::console {

class ConsoleConfig;
class LocalPrinter;
class LocalPrinterArray;
class Translator;

// Turns the model into what the front end draws: plain text only, so nothing a service or
// another user sends can pass for markup, a control character or the default printer's mark.
class MainViewStateBuilder {
  public:
    struct Model {
        const ConsoleConfig& config;
        const Person& currentUser;
        const LocalPrinterArray& localPrinters;
        const RemotePrinterArray& remotePrinters;
        const Translator& translator;
        int32_t newJobs = 0;
    };
    using RemoteList = std::vector<std::shared_ptr<RemotePrinter>>;

    static MainViewState build(const Model& model, bool active, const RemoteList& shown);

    // The remote printers the window lists: all, or without the user's own shared printers
    // when they are to be hidden.
    static RemoteList filterRemotePrinters(const RemotePrinterArray& remotePrinters,
                                           const LocalPrinterArray& localPrinters,
                                           bool hideMyPrinters);

    static LocalPrinterRow localRow(const LocalPrinter& printer, const Translator& translator);
    static RemotePrinterRow remoteRow(const RemotePrinter& printer, const Person& currentUser,
                                      const std::string& defaultPrinterId);
    // "Idle", "Processing", "Paused", else "Error", translated.
    static std::string statusText(uint16_t localStatus, const Translator& translator);
    // Mail, else nick, else login.
    static std::string userText(const Person& user);
    // The host of a service address ("" when it has none).
    static std::string hostOf(std::string_view url);
    // Without control characters and invalid UTF-8.
    static std::string plainText(std::string_view text);
};

}  // namespace velmora::console
