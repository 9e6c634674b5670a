#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/Logger.h"

namespace velmora {
class RemotePrinter;
class RemotePrinterArray;
}  // namespace velmora

namespace velmora::console {

class ConsoleConfig;
class LocalPrinterArray;
class VirtualPrinter;

// Keeps the print system in step with the remote printers after every refresh: one queue per
// listed online printer, and the generated PPD made from the default remote printer whenever
// what it would hold changes. A console without a window relies on this alone.
//
// A remote printer that is one of this computer's own printers, no longer shared, gets no
// queue: unsharing removed it, and the user's list, which still names the printer, must not
// bring it back at the next refresh.
class QueueSync {
  public:
    QueueSync(const ConsoleConfig& config, VirtualPrinter& virtualPrinter);

    void sync(const std::vector<std::shared_ptr<RemotePrinter>>& shown,
              const RemotePrinterArray& remotePrinters, const LocalPrinterArray& localPrinters);
    // Writes the PPD now. False with the reason when it could not be written.
    bool generatePPDFile(const RemotePrinterArray& remotePrinters, std::string& error);

  private:
    void refreshPpd(const RemotePrinterArray& remotePrinters);

    const ConsoleConfig& config_;
    VirtualPrinter& virtualPrinter_;
    Logger logger_;
    std::string writtenPpd_;
};

}  // namespace velmora::console
