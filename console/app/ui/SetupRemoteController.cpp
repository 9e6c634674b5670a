#include "console/app/ui/SetupRemoteController.h"

#include "console/app/ui/PlainText.h"
#include "console/app/ui/Translation.h"
#include "console/remote/QueueNames.h"
#include "console/remote/VirtualPrinter.h"
#include "console/service/ConsoleConfig.h"
#include "console/service/ConsoleInetProvider.h"
#include "core/model/RemotePrinterArray.h"

namespace velmora::console {

namespace {

enum EncryptionRow { kRowNone = 0, kRowAES0 = 1, kRowAES = 2 };
constexpr int kMaskAES = 1;
constexpr int kMaskAES0 = 2;

}  // namespace

SetupRemoteController::SetupRemoteController(Collaborators with, Delegate delegate)
    : with_(with), delegate_(std::move(delegate)), alert_(*this) {
    layOut();
    translate();
    eWidth.setValidator(&sizeRule_);
    eHeight.setValidator(&sizeRule_);
    ePassword1.setEchoMode(QLineEdit::Password);
    ePassword2.setEchoMode(QLineEdit::Password);
    btnOk.setDefault(true);
    connect(&btnOk, &QPushButton::clicked, this, [this] { btnOk_Clicked(); });
    connect(&btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(&btnRemove, &QPushButton::clicked, this, [this] { btnRemove_Clicked(); });
    connect(&cmPaper, &QComboBox::currentIndexChanged, this,
            [this] { comboBoxSelectionDidChange(); });
    connect(&mxEncryption, &QButtonGroup::idToggled, this, [this] { mxEncryption_Changed(); });
}

void SetupRemoteController::layOut() {
    usePlainText({&lPaper, &lWidth, &lHeight, &lBin, &lPassword1, &lPassword2});
    documentGrid.addWidget(&lPaper, 0, 0);
    documentGrid.addWidget(&cmPaper, 0, 1, 1, 3);
    documentGrid.addWidget(&lWidth, 1, 0);
    documentGrid.addWidget(&eWidth, 1, 1);
    documentGrid.addWidget(&lHeight, 1, 2);
    documentGrid.addWidget(&eHeight, 1, 3);
    documentGrid.addWidget(&lBin, 2, 0);
    documentGrid.addWidget(&cmBin, 2, 1, 1, 3);
    boxDocument.setLayout(&documentGrid);
    mxEncryption.addButton(&cellEncryptionNone, kRowNone);
    mxEncryption.addButton(&cellEncryptionAES0, kRowAES0);
    mxEncryption.addButton(&cellEncryptionAES, kRowAES);
    encryptionGrid.addWidget(&cellEncryptionNone, 0, 0, 1, 2);
    encryptionGrid.addWidget(&cellEncryptionAES0, 1, 0, 1, 2);
    encryptionGrid.addWidget(&cellEncryptionAES, 2, 0, 1, 2);
    encryptionGrid.addWidget(&lPassword1, 3, 0);
    encryptionGrid.addWidget(&ePassword1, 3, 1);
    encryptionGrid.addWidget(&lPassword2, 4, 0);
    encryptionGrid.addWidget(&ePassword2, 4, 1);
    boxEncryption.setLayout(&encryptionGrid);
    buttons.addWidget(&btnRemove);
    buttons.addStretch(1);
    buttons.addWidget(&btnCancel);
    buttons.addWidget(&btnOk);
    layout.addWidget(&boxDocument);
    layout.addWidget(&boxEncryption);
    layout.addWidget(&cbNotify);
    layout.addLayout(&buttons);
    setLayout(&layout);
    setMinimumWidth(420);
}

void SetupRemoteController::translate() {
    const std::pair<QWidget*, const char*> designed[] = {
        {&boxDocument, "Document properties"},
        {&lPaper, "Paper size:"},
        {&lWidth, "Width (mm):"},
        {&lHeight, "Height (mm):"},
        {&lBin, "Paper source:"},
        {&boxEncryption, "Encryption"},
        {&cellEncryptionNone, "No encryption"},
        {&cellEncryptionAES0, "Encrypt"},
        {&cellEncryptionAES, "Encrypt with password"},
        {&lPassword1, "Password:"},
        {&lPassword2, "Password again:"},
        {&cbNotify, "Notify on completion"},
        {&btnOk, "Set as default"},
        {&btnCancel, "Cancel"},
        {&btnRemove, "Remove"},
    };
    for (const auto& [control, text] : designed)
        control->setProperty(qobject_cast<QGroupBox*>(control) != nullptr ? "title" : "text",
                             QString::fromUtf8(text));
    const Translation& t = with_.translation;
    t.group({{&lPaper, "PageSize"},
             {&lWidth, "PageWidth"},
             {&lHeight, "PageHeight"},
             {&lBin, "PaperSource"}},
            "JobProperties");
    t.control(&btnCancel, "Common", "Cancel");
    t.group({{&boxEncryption, "Encryption"},
             {&cellEncryptionNone, "NoEncryption"},
             {&cellEncryptionAES, "EncryptPassword"},
             {&cellEncryptionAES0, "Encrypt"},
             {&lPassword1, "Password1"},
             {&lPassword2, "Password2"},
             {&cbNotify, "Notify"}},
            "JobOptionsPage");
    t.control(&boxDocument, "PrinterPage", "DocumentProperties");
    t.group({{&btnOk, "SetDefault"}, {&btnRemove, "Remove"}}, "Mac.SetupRemoteDlg");
}

bool SetupRemoteController::printerExists() const {
    return with_.remotePrinters.getPrinter(publicId_) != nullptr;
}

bool SetupRemoteController::initDialog() {
    const auto printer = with_.remotePrinters.getPrinter(publicId_);
    if (!printer) {
        reject();
        return false;
    }
    setWindowTitle(QString::fromStdString(printer->shareTitle()));
    papers_ = printer->papers().array();
    bins_ = printer->bins().array();
    fillPapers();
    fillBins();
    selectEncryption(printer->encryptMask());
    const QString password = QString::fromStdString(with_.config.encryptionPassword());
    ePassword1.setText(password);
    ePassword2.setText(password);
    cbNotify.setChecked(with_.config.notifyOnCompletion());
    return true;
}

void SetupRemoteController::fillPapers() {
    const QSignalBlocker quiet(cmPaper);
    cmPaper.clear();
    int selected = -1;
    for (const Paper& paper : papers_) {
        if (selected < 0 && paper.format() == with_.config.defaultPaperFormat())
            selected = cmPaper.count();
        cmPaper.addItem(QString::fromStdString(paper.title()));
    }
    cmPaper.setEnabled(!papers_.empty());
    cmPaper.setCurrentIndex(papers_.empty() ? -1 : std::max(selected, 0));
    comboBoxSelectionDidChange();
}

void SetupRemoteController::fillBins() {
    cmBin.clear();
    int selected = -1;
    for (const Bin& bin : bins_) {
        if (selected < 0 && bin.code() == with_.config.defaultBinCode())
            selected = cmBin.count();
        cmBin.addItem(QString::fromStdString(bin.title()));
    }
    cmBin.setEnabled(!bins_.empty());
    cmBin.setCurrentIndex(bins_.empty() ? -1 : std::max(selected, 0));
}

void SetupRemoteController::selectEncryption(int mask) {
    const bool offersAES0 = (mask & kMaskAES0) != 0;
    const bool offersAES = (mask & kMaskAES) != 0;
    cellEncryptionAES0.setEnabled(offersAES0);
    cellEncryptionAES.setEnabled(offersAES);
    switch (with_.config.encryption()) {
        case kEncryptionAES0:
            (offersAES0 ? cellEncryptionAES0 : cellEncryptionNone).setChecked(true);
            break;
        case kEncryptionAES:
            (offersAES ? cellEncryptionAES : cellEncryptionNone).setChecked(true);
            break;
        case kEncryptionNone:
            cellEncryptionNone.setChecked(true);
            break;
        default:
            break;
    }
    mxEncryption_Changed();
}

bool SetupRemoteController::customPaperSelected() const {
    const int index = cmPaper.currentIndex();
    return index >= 0 && index < static_cast<int>(papers_.size()) &&
           papers_[static_cast<size_t>(index)].custom();
}

void SetupRemoteController::comboBoxSelectionDidChange() {
    const int index = cmPaper.currentIndex();
    if (index < 0 || index >= static_cast<int>(papers_.size())) {
        eWidth.setEnabled(false);
        eHeight.setEnabled(false);
        return;
    }
    const Paper& paper = papers_[static_cast<size_t>(index)];
    const bool custom = paper.custom();
    const int width = custom ? with_.config.customPaperWidth() : paper.width();
    const int height = custom ? with_.config.customPaperHeight() : paper.height();
    eWidth.setText(QString::number(width / 10));
    eHeight.setText(QString::number(height / 10));
    eWidth.setEnabled(custom);
    eHeight.setEnabled(custom);
}

void SetupRemoteController::mxEncryption_Changed() {
    const bool withPassword = mxEncryption.checkedId() == kRowAES;
    ePassword1.setEnabled(withPassword);
    ePassword2.setEnabled(withPassword);
}

std::optional<int> SetupRemoteController::sizeField(const QLineEdit& field) const {
    QString text = field.text();
    int position = 0;
    if (customPaperSelected() && sizeRule_.validate(text, position) != QValidator::Acceptable)
        return std::nullopt;
    bool number = false;
    const int millimetres = text.toInt(&number);
    if (!number || millimetres < 0 || millimetres > 100000)
        return std::nullopt;
    return millimetres * 10;
}

void SetupRemoteController::showAlert(const QString& title) {
    alert_.show(title, QString(), with_.translation.qtext("Common", "OK", "OK"));
}

void SetupRemoteController::btnOk_Clicked() {
    const int row = mxEncryption.checkedId();
    if (row == kRowAES && ePassword1.text().isEmpty())
        return showAlert(QStringLiteral("Password is empty"));
    if (row == kRowAES && ePassword1.text() != ePassword2.text())
        return showAlert(QStringLiteral("Passwords does not match"));
    const auto printer = with_.remotePrinters.getPrinter(publicId_);
    if (!printer) {
        reject();
        return;
    }
    const std::optional<int> width = sizeField(eWidth);
    const std::optional<int> height = sizeField(eHeight);
    if (!width || !height)
        return showAlert(QStringLiteral("Width and height must be whole numbers from 10 to 999"));

    ConsoleConfig& setup = with_.config;
    const int paper = cmPaper.currentIndex();
    if (paper >= 0 && paper < static_cast<int>(papers_.size()))
        setup.setDefaultPaperFormat(papers_[static_cast<size_t>(paper)].format());
    setup.setCustomPaperWidth(*width);
    setup.setCustomPaperHeight(*height);
    const int bin = cmBin.currentIndex();
    if (bin >= 0 && bin < static_cast<int>(bins_.size()))
        setup.setDefaultBinCode(bins_[static_cast<size_t>(bin)].code());
    setup.setNotifyOnCompletion(cbNotify.isChecked());
    constexpr int kRowValues[] = {kEncryptionNone, kEncryptionAES0, kEncryptionAES};
    if (row >= kRowNone && row <= kRowAES)
        setup.setEncryption(kRowValues[row]);
    setup.setEncryptionPassword(
        setup.encryption() == kEncryptionAES ? ePassword1.text().toStdString() : std::string());
    setup.setDefaultPrinterId(publicId_);
    std::string error;
    if (!setup.saveSetup(error))
        return showAlert(QString::fromStdString(error));
    renameVirtualPrinter(printer->shareTitle());
    accept();
    if (delegate_.setupRemoteController_Ok)
        delegate_.setupRemoteController_Ok();
}

void SetupRemoteController::renameVirtualPrinter(const std::string& title) {
    // Only a queue that exists and is ours is renamed: the queue worker refuses anything else,
    // since a rename through lpadmin would create a missing queue.
    if (const auto queue = QueueNames::queueNameFor(publicId_))
        with_.virtualPrinter.updatePrinter(*queue, title.empty() ? "Velmora" : title);
}

void SetupRemoteController::btnRemove_Clicked() {
    const Translation& t = with_.translation;
    // Cancel is the sheet's default, so that Return, Escape or a newer sheet never removes:
    // only a click on Remove does.
    alert_.showChoice(QStringLiteral("Are you sure you want to remove this remote printer?"),
                      QString(), t.qtext("Common", "Cancel", "Cancel"),
                      t.qtext("Mac.SetupRemoteDlg", "Remove", "Remove"),
                      [this](bool cancel) { removeSheetDidEnd(!cancel); });
}

void SetupRemoteController::removeSheetDidEnd(bool remove) {
    if (!remove)
        return;
    std::string error;
    if (!with_.inetProvider.changePrinter(publicId_, "dislike", error))
        return showAlert(QString::fromStdString(error));
    if (const auto queue = QueueNames::queueNameFor(publicId_))
        with_.virtualPrinter.removeVirtualPrinter(*queue);
    if (const auto printer = with_.remotePrinters.getPrinter(publicId_))
        with_.remotePrinters.removeObject(printer.get());
    accept();
    if (delegate_.setupRemoteController_RemovedPrinter)
        delegate_.setupRemoteController_RemovedPrinter();
}

void SetupRemoteController::listsChanged() {
    if (isVisible() && !printerExists())
        reject();
}

}  // namespace velmora::console
