#include "console/app/ui/PrinterPropertiesController.h"

#include "console/app/ui/PlainText.h"
#include "console/app/ui/Translation.h"
#include "console/jobs/LocalPrinterArray.h"

namespace velmora::console {

PrinterPropertiesController::PrinterPropertiesController(
    LocalPrinterArray& printers, const Translation& translation,
    std::function<void(const std::string& localTitle)> ok)
    : printers_(printers), translation_(translation), ok_(std::move(ok)) {
    usePlainText({&lShareNameLabel});
    layout.addWidget(&lShareNameLabel, 0, 0);
    layout.addWidget(&eShareName, 0, 1);
    layout.addWidget(&cbHide, 1, 1);
    buttons.addStretch(1);
    buttons.addWidget(&btnCancel);
    buttons.addWidget(&btnOk);
    layout.addLayout(&buttons, 2, 0, 1, 2);
    setLayout(&layout);
    eShareName.setValidator(&shareNameLimit_);
    eShareName.setMinimumWidth(280);
    btnOk.setDefault(true);
    translate();
    connect(&btnOk, &QPushButton::clicked, this, [this] { btnOk_Clicked(); });
    connect(&btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void PrinterPropertiesController::translate() {
    lShareNameLabel.setText(QStringLiteral("Share name:"));
    cbHide.setText(QStringLiteral("Hide from search"));
    btnOk.setText(QStringLiteral("OK"));
    btnCancel.setText(QStringLiteral("Cancel"));
    translation_.group({{&lShareNameLabel, "ShareName"}, {&cbHide, "Hide"}}, "SharePrinterDlg");
    translation_.group({{&btnOk, "OK"}, {&btnCancel, "Cancel"}}, "Common");
}

bool PrinterPropertiesController::printerExists() const {
    return printers_.updatePrinter(printer_, [](LocalPrinter&) {});
}

bool PrinterPropertiesController::initDialog() {
    const bool found = printers_.updatePrinter(printer_, [this](LocalPrinter& printer) {
        setWindowTitle(QString::fromStdString(printer.localTitle()));
        eShareName.setText(QString::fromStdString(printer.shareTitle()).left(kMaxShareName));
        cbHide.setChecked(printer.hidden());
    });
    if (!found)
        reject();
    return found;
}

void PrinterPropertiesController::btnOk_Clicked() {
    const std::string shareTitle = eShareName.text().left(kMaxShareName).toStdString();
    const bool hidden = cbHide.isChecked();
    const bool found = printers_.updatePrinter(printer_, [&](LocalPrinter& printer) {
        printer.setShareTitle(shareTitle);
        printer.setHidden(hidden);
    });
    accept();
    if (found && ok_)
        ok_(printer_);
}

void PrinterPropertiesController::listsChanged() {
    if (isVisible() && !printerExists())
        reject();
}

}  // namespace velmora::console
