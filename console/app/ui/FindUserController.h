#pragma once

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <functional>

#include "console/app/ui/AlertSheet.h"
#include "console/app/ui/PersonTableModel.h"
#include "console/app/ui/RightSearchField.h"

namespace velmora::console {

class ConsoleInetProvider;
class Translation;

// Searches the service's users; Add (or a double click) hands the chosen person to the
// permissions window and leaves this window open for more.
class FindUserController : public QDialog {
    Q_OBJECT

  public:
    FindUserController(ConsoleInetProvider& inetProvider, const Translation& translation,
                       std::function<void(const Person&)> addPerson);

    void search();
    void add();
    void tableViewSelectionDidChange();
    void searchField_Changed();
    const std::vector<Person>& foundUsers() const { return model_.rows(); }
    QMessageBox* alertBox() const { return alert_.box(); }

    PersonTableModel model_;
    RightSearchField searchField;
    QTableView tvUsers;
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
    std::function<void(const Person&)> add_;
    AlertSheet alert_;
};

}  // namespace velmora::console
