#pragma once

#include <QDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "console/app/ui/AlertSheet.h"
#include "console/app/ui/MaxLenFormatter.h"

namespace velmora::console {

class Translation;

// Asks for the account's e-mail address before a sign-up or a password reminder. A sheet on its
// parent: it ends with 1 when a valid address was entered, 0 when cancelled.
class EmailSheetController : public QDialog {
    Q_OBJECT

  public:
    EmailSheetController(bool registration, const Translation& translation, QWidget& parent);

    bool registration() const { return registration_; }
    QString eEmail() const { return eEmailField.text(); }

    QGridLayout layout;
    QLabel lEmail;
    QLineEdit eEmailField;
    QLabel lLegend;
    QPushButton btnOk;
    QPushButton btnCancel;

    // The address's own limit at the service.
    static constexpr int kMaxEmailLength = 64;

  private:
    void translate();
    void btnOk_Clicked();

    MaxLenFormatter emailLimit_{kMaxEmailLength};
    bool registration_;
    const Translation& translation_;
    AlertSheet alert_;
};

}  // namespace velmora::console
