#pragma once

#include <string>

#include "platform/Logger.h"

namespace velmora::console {

class ConsoleConfig;
class ConsoleInetProvider;
class LocalPrinterArray;
class VirtualPrinter;

// Sharing this computer's printers with the service: share, unshare, new sharing properties,
// and announcing every shared printer again after a sign-in. A printer is named by its queue
// name and looked up afresh, so a list re-read meanwhile never makes a command act on another
// printer.
class PrinterSharing {
  public:
    enum class Result { NoPrinter, Failed, Done };

    PrinterSharing(ConsoleConfig& config, ConsoleInetProvider& inetProvider,
                   LocalPrinterArray& localPrinters, VirtualPrinter& virtualPrinter);

    // Shares an unshared printer, or unshares a shared one and removes the queue this computer
    // may hold for it as a remote printer. Done: the flag flipped and the profile was saved.
    Result sharePrinter(const std::string& localTitle, std::string& error);
    // After the properties window confirmed: a shared printer's new description goes to the
    // service; then the profile is saved. Failed: nothing was saved.
    Result printerPropertiesControllerOk(const std::string& localTitle, std::string& error);
    // Every shared printer, in list order, until the first failure (which is not reported).
    void resharePrinters();

  private:
    void saveProfileConfig();

    ConsoleConfig& config_;
    ConsoleInetProvider& inetProvider_;
    LocalPrinterArray& localPrinters_;
    VirtualPrinter& virtualPrinter_;
    Logger logger_;
};

}  // namespace velmora::console
