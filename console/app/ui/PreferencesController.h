#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <functional>
#include <string>

#include "console/app/ui/AlertSheet.h"
#include "console/app/ui/AutostartEntry.h"

namespace velmora::console {

class ConsoleConfig;
class Translation;

// The console's own settings: start at login, update checks, how the user's own printers show,
// notifications, the polling interval and the language. OK stores and saves them and tells the
// delegate; Cancel stores nothing.
class PreferencesController : public QDialog {
    Q_OBJECT

  public:
    PreferencesController(ConsoleConfig& config, const Translation& translation,
                          AutostartEntry autostart, std::function<void()> delegate,
                          QWidget* parent = nullptr);

    // Fills the controls from the settings; called before each showing.
    void initDialog();
    void btnOk_Clicked();
    // Digits only, as a number; a number too long to matter is held at kMaxFieldValue.
    static QString intervalText(const QString& typed);

    QGridLayout layout;
    QCheckBox cbOpenAtLogin;
    QCheckBox cbUpdates;
    QCheckBox cbLikeMyPrinters;
    QCheckBox cbHideMyPrinters;
    QCheckBox cbDeliveryResult;
    QCheckBox cbNotifications;
    QLabel lTimeout;
    QLineEdit timeoutField;
    QLabel lLanguage;
    QComboBox cmLanguage;
    QLabel lLanguageRestart;
    QPushButton btnOk;
    QPushButton btnCancel;

    AlertSheet& alert() { return alert_; }

    static constexpr int kMinInterval = 5;
    static constexpr int kMaxInterval = 300;
    static constexpr int kMaxFieldValue = 99999;
    static constexpr const char* kEnglishFile = "en_US.xml";

  private:
    void translate();
    void controlTextDidChange(const QString& text);
    void comboBoxSelectionDidChange();
    bool storeLoginItem();

    ConsoleConfig& config_;
    const Translation& translation_;
    AutostartEntry autostart_;
    std::function<void()> delegate_;
    AlertSheet alert_;
};

}  // namespace velmora::console
