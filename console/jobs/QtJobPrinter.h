#pragma once

#include "console/jobs/JobPrinter.h"
#include "platform/Logger.h"

#include <functional>
#include <string>

class QPrinter;

namespace velmora {
class RunLoop;
}

namespace velmora::console {

class PrintView;

// Prints a job's pages on a print system queue through Qt Print Support: one QPrinter per job,
// set from the job alone, painted page by page on the print worker's thread.
class QtJobPrinter : public JobPrinter {
  public:
    // Shows the print panel for a job that asks for it, on the main thread; false when the user
    // cancelled it. Until the console's windows exist, no panel is shown and printing goes on.
    using PrintPanel = std::function<bool(QPrinter& printer)>;

    explicit QtJobPrinter(RunLoop& mainLoop, PrintPanel panel = {});

    bool printerExists(const std::string& printerName) override;
    bool printJob(const Job& job, const std::string& printerName, std::string& reason) override;

    // Applies the job's paper, orientation, copies, collation, duplex mode and title.
    static void applyJobSettings(const Job& job, QPrinter& printer, const Logger& logger);
    // Checks that every page file holds a readable, non-empty image; the first failure's reason.
    static bool checkPages(const Job& job, std::string& reason);

  private:
    bool showPanel(QPrinter& printer);
    static bool paint(const PrintView& view, QPrinter& printer, std::string& reason);

    RunLoop& mainLoop_;
    PrintPanel panel_;
    Logger logger_;
};

}  // namespace velmora::console
