#include "console/app/ui/EmailSheetController.h"

#include "console/app/ui/EmailAddressRule.h"
#include "console/app/ui/PlainText.h"
#include "console/app/ui/Translation.h"

namespace velmora::console {

EmailSheetController::EmailSheetController(bool registration, const Translation& translation,
                                           QWidget& parent)
    : QDialog(&parent), registration_(registration), translation_(translation), alert_(*this) {
    setWindowModality(Qt::WindowModal);
    usePlainText({&lEmail, &lLegend});
    lLegend.setWordWrap(true);
    eEmailField.setValidator(&emailLimit_);
    layout.addWidget(&lEmail, 0, 0);
    layout.addWidget(&eEmailField, 0, 1, 1, 2);
    layout.addWidget(&lLegend, 1, 0, 1, 3);
    layout.addWidget(&btnCancel, 2, 1);
    layout.addWidget(&btnOk, 2, 2);
    setLayout(&layout);
    btnOk.setDefault(true);
    connect(&btnOk, &QPushButton::clicked, this, &EmailSheetController::btnOk_Clicked);
    connect(&btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    translate();
}

void EmailSheetController::translate() {
    lEmail.setText(QStringLiteral("E-mail:"));
    lLegend.setText(
        QStringLiteral("Please enter the email address you provided during account registration."));
    btnOk.setText(QStringLiteral("Send"));
    btnCancel.setText(translation_.qtext("Common", "Cancel", "Cancel"));
    translation_.group({{&lEmail, "Mail"}, {&lLegend, "Note"}, {&btnOk, "OK"}},
                       "RemindPasswordDlg");
}

void EmailSheetController::btnOk_Clicked() {
    if (!EmailAddressRule::isValid(eEmailField.text())) {
        alert_.show(QStringLiteral("Invalid email address"), QString(),
                    translation_.qtext("Common", "OK", "OK"));
        return;
    }
    accept();
}

}  // namespace velmora::console
