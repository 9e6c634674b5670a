#include "console/app/ui/PreferencesController.h"

#include <algorithm>
#include <vector>

#include "console/app/ui/PlainText.h"
#include "console/app/ui/Translation.h"
#include "console/service/ConsoleConfig.h"

namespace velmora::console {

PreferencesController::PreferencesController(ConsoleConfig& config, const Translation& translation,
                                             AutostartEntry autostart,
                                             std::function<void()> delegate, QWidget* parent)
    : QDialog(parent),
      config_(config),
      translation_(translation),
      autostart_(std::move(autostart)),
      delegate_(std::move(delegate)),
      alert_(*this) {
    setObjectName(QStringLiteral("Preferences"));
    usePlainText({&lTimeout, &lLanguage, &lLanguageRestart});
    int row = 0;
    for (QCheckBox* box : {&cbOpenAtLogin, &cbUpdates, &cbLikeMyPrinters, &cbHideMyPrinters,
                           &cbDeliveryResult, &cbNotifications})
        layout.addWidget(box, row++, 0, 1, 3);
    layout.addWidget(&lTimeout, row, 0);
    layout.addWidget(&timeoutField, row++, 1);
    layout.addWidget(&lLanguage, row, 0);
    layout.addWidget(&cmLanguage, row++, 1, 1, 2);
    layout.addWidget(&lLanguageRestart, row++, 0, 1, 3);
    layout.addWidget(&btnCancel, row, 1);
    layout.addWidget(&btnOk, row, 2);
    setLayout(&layout);
    btnOk.setDefault(true);
    connect(&btnOk, &QPushButton::clicked, this, &PreferencesController::btnOk_Clicked);
    connect(&btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(&timeoutField, &QLineEdit::textEdited, this,
            &PreferencesController::controlTextDidChange);
    connect(&cmLanguage, &QComboBox::activated, this,
            &PreferencesController::comboBoxSelectionDidChange);
    translate();
}

void PreferencesController::translate() {
    setWindowTitle(QStringLiteral("Preferences"));
    cbOpenAtLogin.setText(QStringLiteral("Start when I log in"));
    cbUpdates.setText(QStringLiteral("Check for updates"));
    cbLikeMyPrinters.setText(QStringLiteral("Add my shared printers to my list"));
    cbHideMyPrinters.setText(QStringLiteral("Hide my own printers"));
    cbDeliveryResult.setText(QStringLiteral("Show delivery results"));
    cbNotifications.setText(QStringLiteral("Job notifications"));
    lTimeout.setText(QStringLiteral("Check interval (seconds):"));
    lLanguage.setText(QStringLiteral("Language:"));
    lLanguageRestart.setText(QStringLiteral("The language changes when the console starts again."));
    btnOk.setText(QStringLiteral("OK"));
    btnCancel.setText(QStringLiteral("Cancel"));
    translation_.group({{this, "Caption"},
                        {&cbOpenAtLogin, "StartWithOS"},
                        {&cbUpdates, "CheckUpdates"},
                        {&cbLikeMyPrinters, "LikeMyPrinters"},
                        {&cbHideMyPrinters, "HideMyPrinters"}},
                       "OptionsDlg");
    translation_.group({{&lLanguageRestart, "LanguageRestart"},
                        {&cbDeliveryResult, "DeliveryResult"},
                        {&cbNotifications, "JobNotifications"}},
                       "Mac.OptionsDlg");
    translation_.control(&lLanguage, "MainMenu", "Language");
    translation_.group({{&btnOk, "OK"}, {&btnCancel, "Cancel"}}, "Common");
}

void PreferencesController::initDialog() {
    cbOpenAtLogin.setChecked(autostart_.isInstalled());
    cbUpdates.setChecked(config_.checkUpdates());
    cbLikeMyPrinters.setChecked(config_.likeMyPrinters());
    cbHideMyPrinters.setChecked(config_.hideMyPrinters());
    cbDeliveryResult.setChecked(config_.showDeliveryResult());
    cbNotifications.setChecked(config_.jobNotifications());
    timeoutField.setText(QString::number(config_.fastCheckInterval()));

    cmLanguage.clear();
    cmLanguage.addItem(QStringLiteral("English"));
    cmLanguage.setCurrentIndex(0);
    // The map is ordered by file name, byte by byte.
    const std::string current = config_.translation();
    for (const auto& [file, name] : translation_.available()) {
        cmLanguage.addItem(QString::fromStdString(name));
        if (file == current)
            cmLanguage.setCurrentIndex(cmLanguage.count() - 1);
    }
    lLanguageRestart.setVisible(false);
}

QString PreferencesController::intervalText(const QString& typed) {
    long long value = 0;
    for (const QChar c : typed) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            continue;
        value = std::min<long long>(value * 10 + (c.unicode() - '0'), kMaxFieldValue);
    }
    return QString::number(value);
}

void PreferencesController::controlTextDidChange(const QString& text) {
    const QString filtered = intervalText(text);
    if (filtered != text)
        timeoutField.setText(filtered);
}

void PreferencesController::comboBoxSelectionDidChange() {
    lLanguageRestart.setVisible(true);
}

bool PreferencesController::storeLoginItem() {
    std::string error;
    const bool wanted = cbOpenAtLogin.isChecked();
    if (wanted == autostart_.isInstalled())
        return true;
    if (wanted ? autostart_.install(error) : autostart_.remove(error))
        return true;
    alert_.show(QString::fromStdString(error), QString(), translation_.qtext("Common", "OK", "OK"));
    return false;
}

void PreferencesController::btnOk_Clicked() {
    const int interval = intervalText(timeoutField.text()).toInt();
    if (interval < kMinInterval || interval > kMaxInterval) {
        alert_.show(QStringLiteral("Please select a different value in seconds. The minimum value "
                                   "is 5 seconds, maximum value is 300 seconds."),
                    QString(), translation_.qtext("Common", "OK", "OK"));
        return;
    }
    if (!storeLoginItem())
        return;
    config_.setCheckUpdates(cbUpdates.isChecked());
    config_.setLikeMyPrinters(cbLikeMyPrinters.isChecked());
    config_.setHideMyPrinters(cbHideMyPrinters.isChecked());
    config_.setShowDeliveryResult(cbDeliveryResult.isChecked());
    config_.setJobNotifications(cbNotifications.isChecked());
    config_.setFastCheckInterval(interval);
    if (cmLanguage.currentIndex() <= 0) {
        config_.setPendingTranslation(kEnglishFile);
    } else {
        const std::string shown = cmLanguage.currentText().toStdString();
        for (const auto& [file, name] : translation_.available())
            if (name == shown)
                config_.setPendingTranslation(file);
    }
    std::string error;
    if (!config_.saveSetup(error)) {
        alert_.show(QString::fromStdString(error), QString(),
                    translation_.qtext("Common", "OK", "OK"));
        return;
    }
    accept();
    if (delegate_)
        delegate_();
}

}  // namespace velmora::console
