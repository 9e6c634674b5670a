#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "console/remote/CommandQueue.h"
#include "console/remote/CupsQueueList.h"
#include "console/remote/QueueChanger.h"
#include "platform/Logger.h"

namespace velmora {
class RemotePrinterArray;
}

namespace velmora::console {

// Keeps one local print queue per online remote printer: "Velmora_" + its public id, device
// "velmora:/", description title + " (Velmora)", and the duplex PPD or the generated one.
// Queues are read through libcups on the caller's thread; every change runs on one worker
// thread, in the order asked, and only ever on queues that are ours by name and device.
class VirtualPrinter {
  public:
    struct Settings {
        QueueChanger::Settings changer;  // its lpadmin.systemDir holds the PPDs
        std::string appVersion;          // the console's version, kept in the version file
        // Online printers beyond this many get no queue (a list from the service has no bound).
        size_t maxQueues = 500;
    };
    struct QueueEntry {
        std::string printerID;    // the queue name
        std::string printerName;  // its description
    };
    // What one remote printer asks of its queue (copied, so the worker holds no model object).
    struct Wish {
        std::string publicId;
        std::string title;
        bool online = false;
        bool duplex = false;
    };

    // Refreshes the queues' PPDs when the version file says this version has not yet.
    explicit VirtualPrinter(Settings settings);
    // Changes already asked for still run.
    ~VirtualPrinter() = default;
    VirtualPrinter(const VirtualPrinter&) = delete;
    VirtualPrinter& operator=(const VirtualPrinter&) = delete;

    // Every queue of the scheduler with its description; our queue named exactly "Velmora" is
    // removed instead of listed. Empty (and logged) when the scheduler cannot be read.
    std::vector<QueueEntry> getPrintersFromSettings();
    // The queue's description, or "error" when there is no such queue.
    std::string getPrinterDescription(const std::string& queueName) const;

    void addVirtualPrinter(const std::string& publicId, const std::string& title, int duplexMode);
    void updatePrinter(const std::string& queueName, const std::string& title);
    void updatePpdForPrinter(const std::string& queueName, int duplexMode);
    void compareSharedAndVirtual(const RemotePrinterArray& printers);
    void compareSharedAndVirtual(std::vector<Wish> wishes);
    // `completion` (may be empty) gets whether the queue was removed; it runs on the worker.
    void removeVirtualPrinter(const std::string& queueName,
                              std::function<void(bool)> completion = {});
    void removeAllVirtualPrinters();

    std::filesystem::path ppdVersionFilePath() const;
    const std::string& currentAppVersion() const { return settings_.appVersion; }
    // Read from the version file on the first call only.
    bool needToUpdatePPDs();
    bool isDuplexPrinter(const std::string& queueName) const;
    void udpatePPDsIfNeeded();
    void setNeedToUpdatePPDs(bool value);

    // Blocks until every change asked for so far has been made (tests, orderly quit).
    void waitUntilIdle() { worker_.waitUntilIdle(); }

    static constexpr size_t kMaxVersionFileSize = 4096;

  private:
    std::optional<std::vector<CupsQueueList::Queue>> listQueues() const;
    void post(std::function<void()> work);
    // Applies on the worker against a fresh list of the scheduler's queues.
    bool applyNow(const QueueOperation& operation);
    bool applyNow(const QueueOperation& operation, const std::vector<CupsQueueList::Queue>& queues);
    void syncNow(const std::vector<Wish>& wishes);
    void refreshPpdsNow();

    Settings settings_;
    QueueChanger changer_;
    Logger logger_;
    std::mutex flagMutex_;
    bool needToUpdatePPDs_ = true;
    bool versionFileRead_ = false;
    CommandQueue worker_;  // last: it stops (finishing its work) before the rest goes away
};

}  // namespace velmora::console
