#pragma once

#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>
#include <QStringList>
#include <QTableView>
#include <QVBoxLayout>

#include <memory>
#include <optional>
#include <string>

#include "console/app/ui/AlertSheet.h"
#include "console/app/ui/PermissionComboCell.h"
#include "console/app/ui/PermissionTableModel.h"

namespace velmora {
class PermissionArray;
class Person;
}  // namespace velmora

namespace velmora::console {

class ConsoleInetProvider;
class FindUserController;
class JobDispatcher;
class Translation;

// Who may print on the user's shared printers without asking: one rule per person and the
// rule for anyone (first, never removed). Every change goes to the service first and is kept
// only when it agreed; jobs waiting for permission are then handled under the new rule.
class PermissionsController : public QDialog {
    Q_OBJECT

  public:
    struct Collaborators {
        ConsoleInetProvider& inetProvider;
        PermissionArray& permissions;
        JobDispatcher& processor;
        const Translation& translation;
    };

    explicit PermissionsController(Collaborators with);
    ~PermissionsController() override;

    void initDialog();
    void selectionChanged();
    // Sends `code` (none removes the rule) for the rule a table row shows, found again by its
    // person; false without a call when that rule is gone.
    bool setPermission(const std::optional<std::string>& code, int row);
    void btnAdd_Clicked();
    void addPermissionForPerson(const Person& person);
    void findUserControllerAdd(const Person& person) { addPermissionForPerson(person); }
    void btnRemove_Clicked();
    // A row's permission was chosen by its text.
    void setPermissionText(int row, const QString& text);

    const QStringList& permissionStrings() const { return permissionStrings_; }
    PermissionTableModel& model() { return model_; }
    FindUserController* findUserController() const { return findUser_.get(); }
    QMessageBox* alertBox() const { return alert_.box(); }

    PermissionTableModel model_;
    PermissionComboCell comboCell_;
    QTableView tvPermissions;
    QPushButton btnAdd, btnRemove;
    QVBoxLayout layout;
    QHBoxLayout buttons;

  private:
    void translate();
    int selectedRow() const;
    // The rule's current index in the shared list, if it is still there.
    std::optional<size_t> indexOf(const PermissionTableModel::Row& row) const;
    void showError(const std::string& error);

    Collaborators with_;
    QStringList permissionStrings_;
    QString anyone_;
    AlertSheet alert_;
    std::unique_ptr<FindUserController> findUser_;
};

}  // namespace velmora::console
