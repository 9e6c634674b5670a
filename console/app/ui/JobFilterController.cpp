#include "console/app/ui/JobFilterController.h"

#include <algorithm>
#include <iterator>
#include <utility>
#include <vector>

#include "console/app/ui/JobTableModel.h"
#include "console/app/ui/Translation.h"
#include "console/service/ConsoleConfig.h"
#include "core/Deployment.h"
#include "platform/Logger.h"

namespace velmora::console {
namespace {

std::vector<std::string> splitFilter(const std::string& filter) {
    std::vector<std::string> names;
    if (filter.empty())
        return names;
    size_t start = 0;
    for (;;) {
        const size_t comma = filter.find(',', start);
        names.push_back(filter.substr(start, comma - start));
        if (comma == std::string::npos)
            return names;
        start = comma + 1;
    }
}

std::string joinFilter(const std::vector<std::string>& names) {
    std::string filter;
    for (size_t index = 0; index < names.size(); ++index) {
        if (index > 0)
            filter += ',';
        filter += names[index];
    }
    return filter;
}

}  // namespace

JobFilterController::JobFilterController(ConsoleConfig& config, const Translation& translation,
                                         std::function<void()> jobFilterController_Changed,
                                         QWidget* parent)
    : QDialog(parent),
      layout(this),
      config_(config),
      translation_(translation),
      changed_(std::move(jobFilterController_Changed)) {
    layout.addWidget(&tvStatus);
    connect(&tvStatus, &QListWidget::itemChanged, this,
            [this](QListWidgetItem* item) { rowChanged(item); });
    fillRows();
    translate();
}

void JobFilterController::translate() {
    setWindowTitle(QStringLiteral("Filter"));
    translation_.control(this, "FilterDlg", "Caption");
    // A new caption is a change of the row too; it must not count as the user's.
    filling_ = true;
    for (int row = 0; row < tvStatus.count(); ++row)
        tvStatus.item(row)->setText(JobTableModel::statusText(translation_, kStatuses[row]));
    filling_ = false;
}

void JobFilterController::fillRows() {
    filling_ = true;
    if (tvStatus.count() == 0) {
        for (const char* name : kStatuses)
            tvStatus.addItem(QString::fromLatin1(name));
    }
    for (int row = 0; row < tvStatus.count(); ++row) {
        QListWidgetItem* item = tvStatus.item(row);
        item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
        item->setCheckState(config_.jobFilterContains(kStatuses[row]) ? Qt::Unchecked
                                                                      : Qt::Checked);
    }
    filling_ = false;
}

std::string JobFilterController::changedFilter(const std::string& filter,
                                               const std::string& stateName, bool shown) {
    std::vector<std::string> names = splitFilter(filter);
    const auto found = std::find(names.rbegin(), names.rend(), stateName);
    if (shown && found != names.rend())
        names.erase(std::next(found).base());
    else if (!shown && found == names.rend())
        names.push_back(stateName);
    return joinFilter(names);
}

void JobFilterController::rowChanged(QListWidgetItem* item) {
    const int row = tvStatus.row(item);
    if (filling_ || row < 0 || row >= static_cast<int>(kStatuses.size()))
        return;
    config_.setJobFilter(
        changedFilter(config_.jobFilter(), kStatuses[row], item->checkState() == Qt::Checked));
    std::string error;
    if (!config_.saveSetup(error))
        Logger(std::string(deployment::kLogSubsystem), "joblist")
            .error("Saving the job filter failed: {}", error);
    if (changed_)
        changed_();
}

}  // namespace velmora::console
