#pragma once

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <functional>
#include <string>
#include <vector>

#include "console/app/ui/AlertSheet.h"
#include "core/model/Bin.h"
#include "core/model/Paper.h"

namespace velmora {
class RemotePrinterArray;
}

namespace velmora::console {

class ConsoleConfig;
class ConsoleInetProvider;
class Translation;
class VirtualPrinter;

// The defaults with which this user's jobs go to one remote printer: paper (with a custom size),
// paper source, encryption with its password, and notification. OK makes the printer the
// default one and saves the setup; Remove takes it off the user's list. The printer is named by
// its public id; the papers and bins offered are a copy taken when the dialog was filled, so a
// poll that replaces the printer's lists never turns a choice into another paper.
class SetupRemoteController : public QDialog {
    Q_OBJECT

  public:
    struct Collaborators {
        ConsoleConfig& config;
        ConsoleInetProvider& inetProvider;
        RemotePrinterArray& remotePrinters;
        VirtualPrinter& virtualPrinter;
        const Translation& translation;
    };
    struct Delegate {
        std::function<void()> setupRemoteController_Ok;
        std::function<void()> setupRemoteController_RemovedPrinter;
    };
    // Setup values of the encryption rows, in row order.
    static constexpr int kEncryptionNone = 0;
    static constexpr int kEncryptionAES0 = 2;
    static constexpr int kEncryptionAES = 1;

    SetupRemoteController(Collaborators with, Delegate delegate);

    void setPrinter(const std::string& publicId) { publicId_ = publicId; }
    const std::string& printer() const { return publicId_; }
    // Fills the dialog from the printer and the setup; false, closing it, when the printer is
    // gone.
    bool initDialog();
    void btnOk_Clicked();
    void btnRemove_Clicked();
    void removeSheetDidEnd(bool remove);
    void comboBoxSelectionDidChange();
    void mxEncryption_Changed();
    // The lists were replaced: the dialog closes when its printer left the user's list.
    void listsChanged();
    // Gives our queue for the printer the title; a printer without a queue gets none.
    void renameVirtualPrinter(const std::string& title);

    QMessageBox* alertBox() const { return alert_.box(); }
    int selectedEncryptionRow() const { return mxEncryption.checkedId(); }

    QGroupBox boxDocument;
    QLabel lPaper;
    QComboBox cmPaper;
    QLabel lWidth;
    QLineEdit eWidth;
    QLabel lHeight;
    QLineEdit eHeight;
    QLabel lBin;
    QComboBox cmBin;
    QGroupBox boxEncryption;
    QRadioButton cellEncryptionNone, cellEncryptionAES0, cellEncryptionAES;
    QButtonGroup mxEncryption;
    QLabel lPassword1;
    QLineEdit ePassword1;
    QLabel lPassword2;
    QLineEdit ePassword2;
    QCheckBox cbNotify;
    QPushButton btnOk, btnCancel, btnRemove;
    QVBoxLayout layout;
    QGridLayout documentGrid;
    QGridLayout encryptionGrid;
    QHBoxLayout buttons;

  private:
    void layOut();
    void translate();
    void fillPapers();
    void fillBins();
    void selectEncryption(int mask);
    bool printerExists() const;
    // The size fields' value for the setup, in tenths of a millimetre; nullopt when a custom
    // paper's field does not hold a whole number from 10 to 999.
    std::optional<int> sizeField(const QLineEdit& field) const;
    bool customPaperSelected() const;
    void showAlert(const QString& title);

    Collaborators with_;
    Delegate delegate_;
    std::string publicId_;
    std::vector<Paper> papers_;
    std::vector<Bin> bins_;
    QIntValidator sizeRule_{10, 999};
    AlertSheet alert_;
};

}  // namespace velmora::console
