#include "console/remote/VirtualPrinter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <exception>

#include "console/remote/ProcessRunner.h"
#include "console/remote/QueueNames.h"
#include "core/Deployment.h"
#include "core/config/Config.h"
#include "core/config/TextFile.h"
#include "core/model/RemotePrinterArray.h"
#include "core/xml/XmlHelpers.h"

namespace velmora::console {

namespace {

using Kind = QueueOperation::Kind;
using Queues = std::vector<CupsQueueList::Queue>;

constexpr const char* kVersionFileName = "ppd_version";
// A stray queue of that exact name is an older installation's; ours only with our device.
constexpr const char* kBareQueueName = "Velmora";

// Anyone may put a file under the user's name in the shared folder; one saying "up to date" must
// not keep the user's queues on old PPDs.
bool isOwnFile(const struct stat& info, std::string& reason) {
    if (info.st_uid == ::geteuid())
        return true;
    reason = "it belongs to another user";
    return false;
}

QueueOperation operation(Kind kind, std::string queue, std::string description = {},
                         bool duplex = false) {
    return QueueOperation{kind, std::move(queue), std::move(description), duplex};
}

}  // namespace

VirtualPrinter::VirtualPrinter(Settings settings)
    : settings_(std::move(settings)),
      changer_(settings_.changer),
      logger_(std::string(deployment::kLogSubsystem), "queues") {
    udpatePPDsIfNeeded();
}

void VirtualPrinter::post(std::function<void()> work) {
    worker_.post([this, work = std::move(work)] {
        try {
            work();
        } catch (const std::exception& exception) {
            logger_.error("Queue change failed: {}", exception.what());
        }
    });
}

std::optional<Queues> VirtualPrinter::listQueues() const {
    std::string error;
    auto queues = CupsQueueList::list(settings_.changer.lpadmin.server, error);
    if (!queues)
        logger_.error("Cannot list the print queues: {}", error);
    return queues;
}

std::vector<VirtualPrinter::QueueEntry> VirtualPrinter::getPrintersFromSettings() {
    std::vector<QueueEntry> entries;
    const auto queues = listQueues();
    if (!queues)
        return entries;
    for (const auto& queue : *queues) {
        if (QueueNames::sameQueueName(queue.name, kBareQueueName) &&
            queue.deviceUri == QueueNames::kDeviceUri) {
            const std::string name = queue.name;
            post([this, name] {
                // Not of our name form, so it goes straight to lpadmin after its own check.
                const auto fresh = listQueues();
                const auto* current = fresh ? CupsQueueList::find(*fresh, name) : nullptr;
                if (current != nullptr && current->deviceUri == QueueNames::kDeviceUri) {
                    const auto removed =
                        ProcessRunner::run(LpadminCommand::arguments(operation(Kind::Remove, name),
                                                                     settings_.changer.lpadmin),
                                           settings_.changer.timeout);
                    if (!removed.succeeded())
                        logger_.error("Cannot remove the queue {}", name);
                }
            });
            continue;
        }
        entries.push_back({queue.name, queue.info});
    }
    return entries;
}

std::string VirtualPrinter::getPrinterDescription(const std::string& queueName) const {
    const auto queues = listQueues();
    const auto* queue = queues ? CupsQueueList::find(*queues, queueName) : nullptr;
    return queue != nullptr ? queue->info : "error";
}

bool VirtualPrinter::applyNow(const QueueOperation& operation) {
    const auto queues = listQueues();
    return queues && applyNow(operation, *queues);
}

bool VirtualPrinter::applyNow(const QueueOperation& operation, const Queues& queues) {
    std::string error;
    if (changer_.apply(operation, queues, error))
        return true;
    logger_.error("Queue {} {}: {}", QueueOperation::kindName(operation.kind),
                  QueueNames::withoutControlCharacters(operation.queue), error);
    return false;
}

void VirtualPrinter::addVirtualPrinter(const std::string& publicId, const std::string& title,
                                       int duplexMode) {
    const auto queue = QueueNames::queueNameFor(publicId);
    if (!queue) {
        logger_.error("Skipped a remote printer whose id cannot name a queue: {}",
                      QueueNames::withoutControlCharacters(publicId));
        return;
    }
    post([this, op = operation(Kind::Add, *queue, QueueNames::descriptionFor(title),
                               duplexMode != 0)] { applyNow(op); });
}

void VirtualPrinter::updatePrinter(const std::string& queueName, const std::string& title) {
    post([this, op = operation(Kind::Rename, queueName, QueueNames::descriptionFor(title))] {
        applyNow(op);
    });
}

void VirtualPrinter::updatePpdForPrinter(const std::string& queueName, int duplexMode) {
    post([this, op = operation(Kind::SwitchPpd, queueName, {}, duplexMode != 0)] { applyNow(op); });
}

void VirtualPrinter::removeVirtualPrinter(const std::string& queueName,
                                          std::function<void(bool)> completion) {
    post([this, op = operation(Kind::Remove, queueName), completion = std::move(completion)] {
        const bool removed = applyNow(op);
        if (completion)
            completion(removed);
    });
}

void VirtualPrinter::removeAllVirtualPrinters() {
    post([this] {
        const auto queues = listQueues();
        if (!queues)
            return;
        for (const auto& queue : *queues) {
            if (QueueNames::isOurs(queue.name, queue.deviceUri))
                applyNow(operation(Kind::Remove, queue.name), *queues);
        }
    });
}

void VirtualPrinter::compareSharedAndVirtual(const RemotePrinterArray& printers) {
    std::vector<Wish> wishes;
    for (const auto& printer : printers)
        wishes.push_back({printer->publicId(), printer->shareTitle(), printer->online(),
                          printer->duplex() != 0});
    compareSharedAndVirtual(std::move(wishes));
}

void VirtualPrinter::compareSharedAndVirtual(std::vector<Wish> wishes) {
    post([this, wishes = std::move(wishes)] { syncNow(wishes); });
}

// Offline printers keep their queues as they are; queues of printers no longer listed stay.
void VirtualPrinter::syncNow(const std::vector<Wish>& wishes) {
    const auto queues = listQueues();
    if (!queues)
        return;
    size_t online = 0;
    for (const Wish& wish : wishes) {
        if (!wish.online)
            continue;
        if (++online > settings_.maxQueues) {
            logger_.error("Only the first {} online remote printers get a queue",
                          settings_.maxQueues);
            break;
        }
        const auto name = QueueNames::queueNameFor(wish.publicId);
        if (!name) {
            logger_.error("Skipped a remote printer whose id cannot name a queue: {}",
                          QueueNames::withoutControlCharacters(wish.publicId));
            continue;
        }
        const std::string description = QueueNames::descriptionFor(wish.title);
        const CupsQueueList::Queue* queue = CupsQueueList::find(*queues, *name);
        if (queue == nullptr) {
            logger_.notice("add printer: {}", wish.publicId);
            applyNow(operation(Kind::Add, *name, description, wish.duplex), *queues);
            continue;
        }
        if (!QueueNames::isOurs(queue->name, queue->deviceUri)) {
            logger_.error("Queue {} prints to {}; left alone", queue->name, queue->deviceUri);
            continue;
        }
        if (queue->info != description) {
            logger_.notice("update printer name");
            applyNow(operation(Kind::Rename, queue->name, description), *queues);
        }
        // The PPD is switched in place: the queue and its pending jobs stay.
        if (queue->hasDefaultDuplex != wish.duplex)
            applyNow(operation(Kind::SwitchPpd, queue->name, {}, wish.duplex), *queues);
    }
}

std::filesystem::path VirtualPrinter::ppdVersionFilePath() const {
    // Per user, like the generated PPD: another user's file could not be replaced.
    const std::string owner = LpadminCommand::ppdOwnerOf(settings_.changer.lpadmin);
    if (!Config::isSafeFileNameComponent(owner))
        return {};
    return settings_.changer.lpadmin.systemDir / (std::string(kVersionFileName) + "." + owner);
}

bool VirtualPrinter::needToUpdatePPDs() {
    std::lock_guard lock(flagMutex_);
    if (!versionFileRead_) {
        versionFileRead_ = true;
        std::string text;
        std::string error;
        if (!readTextFile(ppdVersionFilePath(), kMaxVersionFileSize, isOwnFile, text, error)) {
            logger_.notice("Error reading PPD version file: {}", error);
            needToUpdatePPDs_ = true;
        } else {
            needToUpdatePPDs_ = text != settings_.appVersion;
        }
    }
    return needToUpdatePPDs_;
}

void VirtualPrinter::setNeedToUpdatePPDs(bool value) {
    std::lock_guard lock(flagMutex_);
    versionFileRead_ = true;
    needToUpdatePPDs_ = value;
}

bool VirtualPrinter::isDuplexPrinter(const std::string& queueName) const {
    const auto queues = listQueues();
    const auto* queue = queues ? CupsQueueList::find(*queues, queueName) : nullptr;
    return queue != nullptr && queue->hasDefaultDuplex;
}

void VirtualPrinter::udpatePPDsIfNeeded() {
    if (!needToUpdatePPDs()) {
        logger_.notice("Update PPDs: skip; already up to date.");
        return;
    }
    logger_.notice("Update PPDs for all virtual printers.");
    post([this] { refreshPpdsNow(); });
}

void VirtualPrinter::refreshPpdsNow() {
    const auto queues = listQueues();
    if (!queues)
        return;
    bool allDone = true;
    for (const auto& queue : *queues) {
        if (!QueueNames::isOurs(queue.name, queue.deviceUri))
            continue;
        logger_.notice("Update PPD for printer {} (id {}) duplex: {}", queue.info, queue.name,
                       queue.hasDefaultDuplex ? "yes" : "no");
        allDone =
            applyNow(operation(Kind::SwitchPpd, queue.name, {}, queue.hasDefaultDuplex), *queues) &&
            allDone;
    }
    if (!allDone)
        return;
    std::string error;
    if (!writeFileAtomically(ppdVersionFilePath(), settings_.appVersion, error, 0644)) {
        logger_.notice("Error saving PPD version file: {}", error);
        return;
    }
    setNeedToUpdatePPDs(false);
}

}  // namespace velmora::console
