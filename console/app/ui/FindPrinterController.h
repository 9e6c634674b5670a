#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <functional>
#include <memory>

#include "console/app/ui/AlertSheet.h"
#include "console/app/ui/FoundPrinterTableModel.h"
#include "console/app/ui/RightSearchField.h"

namespace velmora::console {

class ConsoleInetProvider;
class Translation;

// Searches the printers others share; Add (or a double click) puts the chosen one on the user's
// list at the service and leaves this window open for more.
class FindPrinterController : public QDialog {
    Q_OBJECT

  public:
    // `added` runs after a printer joined the user's list.
    FindPrinterController(ConsoleInetProvider& inetProvider, const Translation& translation,
                          std::function<void()> added);

    void search();
    void like();
    void tableViewSelectionDidChange();
    void searchField_Changed();
    const std::vector<std::shared_ptr<RemotePrinter>>& foundPrinters() const {
        return model_.rows();
    }
    QMessageBox* alertBox() const { return alert_.box(); }

    FoundPrinterTableModel model_;
    QCheckBox cbOnline;
    RightSearchField searchField;
    QTableView tvPrinters;
    QLabel lNoResults;
    QProgressBar progress;
    QPushButton btnAdd;
    QVBoxLayout layout;
    QHBoxLayout bottom;

  private:
    void translate();
    int selectedRow() const;

    ConsoleInetProvider& inetProvider_;
    const Translation& translation_;
    std::function<void()> added_;
    AlertSheet alert_;
};

}  // namespace velmora::console
