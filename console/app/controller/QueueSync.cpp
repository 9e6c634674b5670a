#include "console/app/controller/QueueSync.h"

#include "console/jobs/LocalPrinterArray.h"
#include "console/remote/PpdGenerator.h"
#include "console/remote/VirtualPrinter.h"
#include "console/service/ConsoleConfig.h"
#include "core/Deployment.h"
#include "core/model/RemotePrinterArray.h"

namespace velmora::console {

QueueSync::QueueSync(const ConsoleConfig& config, VirtualPrinter& virtualPrinter)
    : config_(config),
      virtualPrinter_(virtualPrinter),
      logger_(std::string(deployment::kLogSubsystem), "queues") {}

void QueueSync::sync(const std::vector<std::shared_ptr<RemotePrinter>>& shown,
                     const RemotePrinterArray& remotePrinters,
                     const LocalPrinterArray& localPrinters) {
    if (remotePrinters.count() > 0)
        refreshPpd(remotePrinters);
    // Queues of printers no longer listed stay, so an empty list has nothing to ask for.
    if (shown.empty())
        return;
    std::vector<VirtualPrinter::Wish> wishes;
    wishes.reserve(shown.size());
    for (const auto& printer : shown) {
        const auto local = localPrinters.getPrinter(printer->publicId());
        const bool unsharedHere = local && !local->shared();
        wishes.push_back({printer->publicId(), printer->shareTitle(),
                          printer->online() && !unsharedHere, printer->duplex() != 0});
    }
    virtualPrinter_.compareSharedAndVirtual(std::move(wishes));
}

// Written before the queues are asked for, so a new queue gets the current file.
void QueueSync::refreshPpd(const RemotePrinterArray& remotePrinters) {
    std::string text;
    std::string error;
    if (!PpdGenerator::ppdText(config_, remotePrinters, text, error) || text == writtenPpd_)
        return;
    if (!generatePPDFile(remotePrinters, error))
        logger_.error("Cannot write the PPD of the remote printers: {}", error);
}

bool QueueSync::generatePPDFile(const RemotePrinterArray& remotePrinters, std::string& error) {
    std::string text;
    if (!PpdGenerator::ppdText(config_, remotePrinters, text, error) ||
        !PpdGenerator::generatePPDFile(config_, remotePrinters, error))
        return false;
    writtenPpd_ = std::move(text);
    return true;
}

}  // namespace velmora::console
