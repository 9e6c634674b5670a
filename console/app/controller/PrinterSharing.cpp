#include "console/app/controller/PrinterSharing.h"

#include <optional>

#include "console/jobs/LocalPrinterArray.h"
#include "console/remote/QueueNames.h"
#include "console/remote/VirtualPrinter.h"
#include "console/service/ConsoleConfig.h"
#include "console/service/ConsoleInetProvider.h"
#include "core/Deployment.h"
#include "core/net/InetProvider.h"

namespace velmora::console {

namespace {

std::optional<LocalPrinter> findPrinter(const LocalPrinterArray& printers,
                                        const std::string& localTitle) {
    for (LocalPrinter& printer : printers.allPrinters()) {
        if (printer.localTitle() == localTitle)
            return std::move(printer);
    }
    return std::nullopt;
}

}  // namespace

PrinterSharing::PrinterSharing(ConsoleConfig& config, ConsoleInetProvider& inetProvider,
                               LocalPrinterArray& localPrinters, VirtualPrinter& virtualPrinter)
    : config_(config),
      inetProvider_(inetProvider),
      localPrinters_(localPrinters),
      virtualPrinter_(virtualPrinter),
      logger_(std::string(deployment::kLogSubsystem), "sharing") {}

PrinterSharing::Result PrinterSharing::sharePrinter(const std::string& localTitle,
                                                    std::string& error) {
    const auto printer = findPrinter(localPrinters_, localTitle);
    if (!printer)
        return Result::NoPrinter;
    if (printer->shared()) {
        if (!inetProvider_.changePrinter(printer->publicId(), "unshare", error))
            return Result::Failed;
        // This computer may have set up its own printer as a remote one too.
        if (const auto queue = QueueNames::queueNameFor(printer->publicId()))
            virtualPrinter_.removeVirtualPrinter(*queue);
    } else if (!inetProvider_.addSharePrinter(*printer, error)) {
        return Result::Failed;
    }
    const bool shared = !printer->shared();
    localPrinters_.updatePrinter(localTitle,
                                 [shared](LocalPrinter& listed) { listed.setShared(shared); });
    saveProfileConfig();
    return Result::Done;
}

PrinterSharing::Result PrinterSharing::printerPropertiesControllerOk(const std::string& localTitle,
                                                                     std::string& error) {
    const auto printer = findPrinter(localPrinters_, localTitle);
    if (!printer)
        return Result::NoPrinter;
    if (printer->shared() && !inetProvider_.addSharePrinter(*printer, error))
        return Result::Failed;
    saveProfileConfig();
    return Result::Done;
}

void PrinterSharing::resharePrinters() {
    logger_.notice("Reshare printers");
    for (const LocalPrinter& printer : localPrinters_.allPrinters()) {
        if (!printer.shared())
            continue;
        std::string error;
        if (!inetProvider_.addSharePrinter(printer, error))
            return;
    }
    const int version = InetProvider::getIntVersion();
    if (version != -1 && version > config_.profileConfigVersion()) {
        config_.setProfileConfigVersion(version);
        saveProfileConfig();
    }
}

void PrinterSharing::saveProfileConfig() {
    if (!config_.saveProfileConfig())
        logger_.error("Cannot save the profile configuration");
}

}  // namespace velmora::console
