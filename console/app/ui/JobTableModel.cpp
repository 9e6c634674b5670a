#include "console/app/ui/JobTableModel.h"

#include <QBrush>

#include <algorithm>
#include <optional>

#include "console/app/ui/PlainText.h"
#include "console/app/ui/Translation.h"
#include "console/jobs/JobArray.h"
#include "console/jobs/LocalPrinterArray.h"
#include "console/service/ConsoleConfig.h"

namespace velmora::console {

JobTableModel::JobTableModel(JobArray& jobs, const ConsoleConfig& config,
                             const LocalPrinterArray& localPrinters, const Translation& translation,
                             QObject* parent)
    : TranslatableTableModel(
          {QStringLiteral("Time"), QStringLiteral("Printer"), QStringLiteral("Sender"),
           QStringLiteral("Document"), QStringLiteral("Pages"), QStringLiteral("Status")},
          parent),
      jobs_(jobs),
      config_(config),
      localPrinters_(localPrinters),
      translation_(translation) {}

void JobTableModel::reload() {
    beginResetModel();
    rows_.clear();
    rows_.reserve(jobs_.count());
    for (size_t index = jobs_.count(); index-- > 0;) {
        const Job& job = jobs_.objectAtIndex(index);
        if (!config_.jobFilterContains(job.getTextStatus()))
            rows_.push_back(keyOf(job));
    }
    endResetModel();
}

int JobTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

Job* JobTableModel::jobAt(int row) const {
    if (row < 0 || row >= static_cast<int>(rows_.size()))
        return nullptr;
    const JobKey& key = rows_[static_cast<size_t>(row)];
    return jobs_.findJob(key.first, key.second);
}

int JobTableModel::rowOf(const JobKey& key) const {
    const auto it = std::find(rows_.begin(), rows_.end(), key);
    return it == rows_.end() ? -1 : static_cast<int>(it - rows_.begin());
}

QString JobTableModel::statusText(const Translation& translation, const std::string& stateName) {
    return QString::fromStdString(translation.section("JobStatus", stateName, stateName));
}

QVariant JobTableModel::data(const QModelIndex& index, int role) const {
    const Job* job = index.isValid() ? jobAt(index.row()) : nullptr;
    if (job == nullptr)
        return {};
    if (role == Qt::DisplayRole)
        return cellText(*job, index.column());
    if (role == Qt::ForegroundRole)
        return QBrush(job->isNew() ? Qt::black : Qt::gray);
    return {};
}

QString JobTableModel::cellText(const Job& job, int column) const {
    switch (column) {
        case kTime:
            return QString::fromStdString(job.getTextStarted());
        case kPrinter: {
            const std::optional<LocalPrinter> printer = localPrinters_.getPrinter(job.printerId());
            return printer ? QString::fromStdString(printer->localTitle()) : QString();
        }
        case kSender:
            return oneLineForDisplay(job.sender().nick(), kMaxShownLength);
        case kDocument:
            return oneLineForDisplay(job.title(), kMaxShownLength);
        case kPages:
            return QString::number(static_cast<qulonglong>(job.pages().size()));
        case kStatus:
            return statusText(translation_, job.getTextStatus());
        default:
            return {};
    }
}

}  // namespace velmora::console
