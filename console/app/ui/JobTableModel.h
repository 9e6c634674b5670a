#pragma once

#include <QString>

#include <utility>
#include <vector>

#include "console/app/ui/PlainText.h"
#include "console/app/ui/TranslatableTableModel.h"
#include "console/jobs/Job.h"

namespace velmora::console {

class ConsoleConfig;
class JobArray;
class LocalPrinterArray;
class Translation;

// The job list's rows, newest first, without the states the user hides. A row names its job by
// origin and id, never by position in the list: a poll may replace the list between two clicks,
// and a row must then show nothing rather than someone else's job.
class JobTableModel : public TranslatableTableModel {
    Q_OBJECT

  public:
    using JobKey = std::pair<Job::Origin, int>;
    enum Column { kTime, kPrinter, kSender, kDocument, kPages, kStatus, kColumnCount };
    // Titles and nicks come from other people.
    static constexpr qsizetype kMaxShownLength = kMaxRowTextLength;

    JobTableModel(JobArray& jobs, const ConsoleConfig& config,
                  const LocalPrinterArray& localPrinters, const Translation& translation,
                  QObject* parent = nullptr);

    // Rebuilds the rows from the job list and the filter.
    void reload();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    const JobKey& keyAt(int row) const { return rows_.at(static_cast<size_t>(row)); }
    // The row's job as listed now; null when it has left the list.
    Job* jobAt(int row) const;
    // The row of a job, or -1.
    int rowOf(const JobKey& key) const;

    static QString statusText(const Translation& translation, const std::string& stateName);
    static JobKey keyOf(const Job& job) { return {job.origin(), job.serverId()}; }

  private:
    QString cellText(const Job& job, int column) const;

    JobArray& jobs_;
    const ConsoleConfig& config_;
    const LocalPrinterArray& localPrinters_;
    const Translation& translation_;
    std::vector<JobKey> rows_;
};

}  // namespace velmora::console
