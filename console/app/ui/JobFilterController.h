#pragma once

#include <QDialog>
#include <QListWidget>
#include <QVBoxLayout>

#include <array>
#include <functional>
#include <string>

namespace velmora::console {

class ConsoleConfig;
class Translation;

// The job list's state filter: one check box per state; a state switched off is hidden. The
// filter is the `jobFilter` setting, saved with the setup at each change.
class JobFilterController : public QDialog {
    Q_OBJECT

  public:
    // "Uploading" is not offered: a direct job receiving its pages is always shown.
    static constexpr std::array<const char*, 7> kStatuses = {
        "Waiting", "Downloading", "Ready", "Printing", "Done", "Error", "Rejected"};

    JobFilterController(ConsoleConfig& config, const Translation& translation,
                        std::function<void()> jobFilterController_Changed,
                        QWidget* parent = nullptr);

    void translate();
    // Reads the check boxes again from the setting.
    void fillRows();

    // The filter after switching `stateName` on (shown) or off (hidden), from a stored filter.
    static std::string changedFilter(const std::string& filter, const std::string& stateName,
                                     bool shown);

    QVBoxLayout layout;
    QListWidget tvStatus;

  private:
    void rowChanged(QListWidgetItem* item);

    ConsoleConfig& config_;
    const Translation& translation_;
    std::function<void()> changed_;
    bool filling_ = false;
};

}  // namespace velmora::console
