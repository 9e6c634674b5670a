#pragma once

#include <QImage>
#include <QRect>
#include <QSizeF>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/PrivateCupsd.h"

namespace velmora::test {

// The private scheduler the printing suites print on, with queues whose device is a file, and
// the tools that read back what reached the file.
class PrintSystem {
  public:
    // Starts the scheduler and points this process's libcups at it; call before Qt looks at
    // printers.
    static void start();
    static void stop();
    static PrintSystem* instance() { return instance_.get(); }

    bool running() const { return cupsd_.running(); }
    const std::string& failure() const { return cupsd_.failure(); }
    const PrivateCupsd& cupsd() const { return cupsd_; }

    // A queue with the PDF fixture PPD writing to its own file; the file's path.
    std::filesystem::path addFileQueue(const std::string& name);
    // Waits until the scheduler has no unfinished job; false after `seconds`.
    bool waitUntilIdle(double seconds = 60) const;
    // The attributes of the queue's newest completed job, as text ("copies" -> "2").
    std::map<std::string, std::string> lastJobAttributes(const std::string& queue) const;
    // How many jobs the scheduler has accepted in total.
    int jobCount() const;

    struct PdfPage {
        double width = 0;
        double height = 0;
    };
    // Page sizes of a PDF in points, from pdfinfo.
    static std::vector<PdfPage> pdfPages(const std::filesystem::path& pdf);
    // One page of a PDF rendered at `dpi` by pdftoppm.
    static QImage renderPage(const std::filesystem::path& pdf, int page, int dpi);
    // The bounding box of the pixels darker than mid grey; empty when there are none.
    static QRect darkBox(const QImage& image);

  private:
    static inline std::unique_ptr<PrintSystem> instance_;
    PrivateCupsd cupsd_;
    ScratchDirectory outputs_{"velmora-print-out"};
};

}  // namespace velmora::test
