#include "console/jobs/QtJobPrinter.h"

#include "console/jobs/Job.h"
#include "console/jobs/PageImage.h"
#include "console/jobs/PrintView.h"
#include "core/Deployment.h"
#include "platform/RunLoop.h"

#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>

#include <cups/cups.h>

#include <algorithm>

namespace velmora::console {

namespace {

constexpr double kPointsPerInch = 72;

// The queue's paper whose print system identifier is `format`; the queue's default otherwise.
QPageSize pageSizeFor(const QPrinterInfo& info, const std::string& format) {
    const QString key = QString::fromStdString(format);
    for (const QPageSize& size : info.supportedPageSizes()) {
        if (size.key() == key)
            return size;
    }
    return info.defaultPageSize();
}

}  // namespace

QtJobPrinter::QtJobPrinter(RunLoop& mainLoop, PrintPanel panel)
    : mainLoop_(mainLoop),
      panel_(std::move(panel)),
      logger_(std::string(deployment::kLogSubsystem), "print") {}

bool QtJobPrinter::printerExists(const std::string& printerName) {
    return !QPrinterInfo::printerInfo(QString::fromStdString(printerName)).isNull();
}

void QtJobPrinter::applyJobSettings(const Job& job, QPrinter& printer, const Logger& logger) {
    const QPrinterInfo info(printer);
    const QPageSize paper = pageSizeFor(info, job.format());
    if (paper.key() != QString::fromStdString(job.format()))
        logger.info("Job {}: paper \"{}\" not offered, using \"{}\"", job.serverId(), job.format(),
                    paper.key().toStdString());
    const QPageLayout::Orientation orientation =
        job.orientation() == JobData::kLandscape ? QPageLayout::Landscape : QPageLayout::Portrait;
    // The page is the whole paper: the fit places images relative to its edges.
    printer.setFullPage(true);
    printer.setPageLayout(QPageLayout(paper, orientation, QMarginsF(0, 0, 0, 0)));
    printer.setCopyCount(std::max(1, job.copies()));
    printer.setCollateCopies(job.collate());
    switch (job.duplex()) {
        case 0:
            printer.setDuplex(QPrinter::DuplexNone);
            break;
        case 1:
            printer.setDuplex(QPrinter::DuplexShortSide);
            break;
        case 2:
            printer.setDuplex(QPrinter::DuplexLongSide);
            break;
        default:
            break;
    }
    printer.setDocName(QString::fromStdString(job.title()));
}

bool QtJobPrinter::checkPages(const Job& job, std::string& reason) {
    for (int index = 0; index < static_cast<int>(job.pages().size()); ++index) {
        const QString path = QString::fromStdString(job.getFileNameForPage(index, false));
        std::string error;
        if (!PageImage::verify(path, error)) {
            reason = "page " + std::to_string(job.pages()[static_cast<size_t>(index)].number()) +
                     ": " + error;
            return false;
        }
    }
    return true;
}

bool QtJobPrinter::printJob(const Job& job, const std::string& printerName, std::string& reason) {
    if (!checkPages(job, reason))
        return false;
    QPrinter printer(QPrinter::HighResolution);
    printer.setPrinterName(QString::fromStdString(printerName));
    if (!printer.isValid()) {
        reason = "the queue cannot be opened";
        return false;
    }
    applyJobSettings(job, printer, logger_);
    const QSizeF paper = printer.pageLayout().fullRect(QPageLayout::Point).size();
    const PrintView view(job, paper);
    logger_.notice("{:f} x {:f} : {:f}", paper.width(), paper.height(),
                   paper.width() / paper.height());
    logger_.notice("copies: {}", job.copies());
    if (job.showDialog() && !showPanel(printer)) {
        reason = "the print panel was cancelled";
        return false;
    }
    return paint(view, printer, reason);
}

bool QtJobPrinter::showPanel(QPrinter& printer) {
    if (!panel_)
        return true;
    bool accepted = false;
    if (!mainLoop_.postAndWait([&] { accepted = panel_(printer); }))
        return false;
    return accepted;
}

bool QtJobPrinter::paint(const PrintView& view, QPrinter& printer, std::string& reason) {
    int first = 0;
    int last = 0;
    view.knowsPageRange(first, last);
    if (last < first) {
        reason = "the job has no pages";
        return false;
    }
    QPainter painter;
    if (!painter.begin(&printer)) {
        reason = "printing could not start";
        return false;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const double scale = printer.resolution() / kPointsPerInch;
    for (int page = first; page <= last; ++page) {
        if (page > first && !printer.newPage()) {
            reason = "a new page could not be started";
            printer.abort();
            return false;
        }
        painter.save();
        painter.scale(scale, scale);
        const bool drawn = view.drawRect(painter, view.rectForPage(page), reason);
        painter.restore();
        if (!drawn) {
            // Nothing reaches the print system: the job stays whole for another attempt.
            printer.abort();
            return false;
        }
    }
    if (!painter.end() || printer.printerState() == QPrinter::Error) {
        reason = "the print system refused the job";
        return false;
    }
    // Qt submits the finished document to the scheduler and drops its answer (a refused copy
    // count, for one); the answer is still this thread's last print system status.
    if (printer.outputFormat() == QPrinter::NativeFormat &&
        cupsLastError() > IPP_STATUS_OK_CONFLICTING) {
        reason = std::string("the print system refused the job: ") + cupsLastErrorString();
        return false;
    }
    return true;
}

}  // namespace velmora::console
