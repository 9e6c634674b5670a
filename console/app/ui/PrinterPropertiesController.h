#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <functional>
#include <string>

#include "console/app/ui/AlertSheet.h"
#include "console/app/ui/MaxLenFormatter.h"

namespace velmora::console {

class LocalPrinterArray;
class Translation;

// The sharing properties of one printer of this computer: its share title and whether it is
// hidden from searches. The printer is named by its queue name and looked up again on OK, so a
// refresh that rebuilt the list never lets the dialog change another printer.
class PrinterPropertiesController : public QDialog {
    Q_OBJECT

  public:
    // `ok` gets the printer's queue name after the printer took the new values.
    PrinterPropertiesController(LocalPrinterArray& printers, const Translation& translation,
                                std::function<void(const std::string& localTitle)> ok);

    void setPrinter(const std::string& localTitle) { printer_ = localTitle; }
    const std::string& printer() const { return printer_; }
    // Fills the dialog from the printer; false, closing it, when the printer is gone.
    bool initDialog();
    void btnOk_Clicked();
    // The lists were replaced: the dialog closes when its printer is no longer there.
    void listsChanged();

    static constexpr int kMaxShareName = 256;

    QLabel lShareNameLabel;
    QLineEdit eShareName;
    QCheckBox cbHide;
    QPushButton btnOk, btnCancel;
    // The outer layout first: an inner one leaves it as it goes.
    QGridLayout layout;
    QHBoxLayout buttons;

  private:
    void translate();
    bool printerExists() const;

    LocalPrinterArray& printers_;
    const Translation& translation_;
    std::function<void(const std::string&)> ok_;
    std::string printer_;
    MaxLenFormatter shareNameLimit_{kMaxShareName};
};

}  // namespace velmora::console
