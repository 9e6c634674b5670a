#include "console/app/ui/PermissionsController.h"

#include <QHeaderView>

#include "console/app/ui/FindUserController.h"
#include "console/app/ui/TableColumn.h"
#include "console/app/ui/Translation.h"
#include "console/jobs/JobDispatcher.h"
#include "console/service/ConsoleInetProvider.h"
#include "core/account/PermissionArray.h"

namespace velmora::console {

PermissionsController::PermissionsController(Collaborators with) : with_(with), alert_(*this) {
    tvPermissions.setModel(&model_);
    tvPermissions.setItemDelegateForColumn(PermissionTableModel::kIncoming, &comboCell_);
    tvPermissions.setSelectionBehavior(QAbstractItemView::SelectRows);
    tvPermissions.setSelectionMode(QAbstractItemView::SingleSelection);
    tvPermissions.setEditTriggers(QAbstractItemView::AllEditTriggers);
    tvPermissions.verticalHeader()->hide();
    tvPermissions.horizontalHeader()->setStretchLastSection(true);
    tvPermissions.setColumnWidth(PermissionTableModel::kUser, 200);
    buttons.addWidget(&btnAdd);
    buttons.addWidget(&btnRemove);
    buttons.addStretch(1);
    layout.addWidget(&tvPermissions, 1);
    layout.addLayout(&buttons);
    setLayout(&layout);
    resize(460, 320);
    translate();
    connect(&btnAdd, &QPushButton::clicked, this, [this] { btnAdd_Clicked(); });
    connect(&btnRemove, &QPushButton::clicked, this, [this] { btnRemove_Clicked(); });
    connect(
        &model_, &PermissionTableModel::permissionChosen, this,
        [this](int row, const QString& text) { setPermissionText(row, text); },
        // After the editor closed: the answer reloads the table.
        Qt::QueuedConnection);
    connect(tvPermissions.selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { selectionChanged(); });
    initDialog();
}

PermissionsController::~PermissionsController() = default;

void PermissionsController::translate() {
    setWindowTitle(QStringLiteral("Permissions"));
    btnAdd.setText(QStringLiteral("Add…"));
    btnRemove.setText(QStringLiteral("Remove"));
    const Translation& t = with_.translation;
    t.control(this, "UserListDlg", "Caption");
    t.control(TableColumn{&model_, PermissionTableModel::kUser}, "UserListDlg", "User");
    t.control(TableColumn{&model_, PermissionTableModel::kIncoming}, "UserListDlg", "Requests");
    permissionStrings_ = {t.qtext("UserListDlg", "Auth", "Do nothing"),
                          t.qtext("UserListDlg", "NoAuth", "Print automatically"),
                          t.qtext("UserListDlg", "Block", "Reject automatically")};
    anyone_ = t.qtext("UserListDlg", "Anyone", "Anyone");
}

void PermissionsController::initDialog() {
    model_.reload(with_.permissions, anyone_, permissionStrings_);
    selectionChanged();
}

int PermissionsController::selectedRow() const {
    const QModelIndexList rows = tvPermissions.selectionModel()->selectedRows();
    return rows.size() == 1 ? rows.front().row() : -1;
}

void PermissionsController::selectionChanged() {
    const int row = selectedRow();
    btnRemove.setEnabled(row >= 1 && row < static_cast<int>(model_.rows().size()));
}

std::optional<size_t> PermissionsController::indexOf(const PermissionTableModel::Row& row) const {
    for (size_t index = 0; index < with_.permissions.count(); ++index) {
        const auto& person = with_.permissions.objectAtIndex(index).person();
        if (row.personId ? (person && person->serverId() == *row.personId) : !person)
            return index;
    }
    return std::nullopt;
}

void PermissionsController::showError(const std::string& error) {
    alert_.show(QString::fromStdString(error), QString(),
                with_.translation.qtext("Common", "OK", "OK"));
}

bool PermissionsController::setPermission(const std::optional<std::string>& code, int row) {
    if (row < 0 || row >= static_cast<int>(model_.rows().size()))
        return false;
    const PermissionTableModel::Row& shown = model_.rows()[static_cast<size_t>(row)];
    if (!indexOf(shown))
        return false;
    std::string error;
    if (!with_.inetProvider.setPermission(code, shown.personId.value_or(0), error)) {
        showError(error);
        return false;
    }
    return true;
}

void PermissionsController::setPermissionText(int row, const QString& text) {
    if (row < 0 || row >= static_cast<int>(model_.rows().size()))
        return;
    const PermissionTableModel::Row shown = model_.rows()[static_cast<size_t>(row)];
    int value = static_cast<int>(permissionStrings_.indexOf(text));
    if (value < 0)
        value = with_.permissions.getDefaultPermission();
    if (!setPermission(std::string(Permission::codeForValue(value)), row))
        return;
    // The row names its rule by the person; the rule is found again where it is now.
    if (const auto index = indexOf(shown))
        with_.permissions.objectAtIndex(*index).setValue(value);
    initDialog();
    with_.processor.dispatchJobs();
}

void PermissionsController::btnAdd_Clicked() {
    if (!findUser_) {
        findUser_ = std::make_unique<FindUserController>(
            with_.inetProvider, with_.translation,
            [this](const Person& person) { findUserControllerAdd(person); });
    }
    findUser_->show();
    findUser_->raise();
}

void PermissionsController::addPermissionForPerson(const Person& person) {
    const PermissionTableModel::Row wanted{person.serverId(), QString(), 0};
    if (indexOf(wanted))
        return;
    std::string error;
    if (!with_.inetProvider.setPermission(std::string(Permission::codeForValue(Permission::kAsk)),
                                          person.serverId(), error)) {
        showError(error);
        return;
    }
    with_.permissions.addObject(Permission(person, Permission::kAsk));
    initDialog();
}

void PermissionsController::btnRemove_Clicked() {
    const int row = selectedRow();
    if (row < 1 || row >= static_cast<int>(model_.rows().size()))
        return;
    const PermissionTableModel::Row shown = model_.rows()[static_cast<size_t>(row)];
    if (!setPermission(std::nullopt, row))
        return;
    if (const auto index = indexOf(shown))
        with_.permissions.removeObjectAtIndex(*index);
    initDialog();
}

}  // namespace velmora::console
