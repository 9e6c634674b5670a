#include "console/app/ui/PermissionTableModel.h"

#include <QFont>

#include "console/app/ui/PlainText.h"
#include "core/account/PermissionArray.h"

namespace velmora::console {

PermissionTableModel::PermissionTableModel(QObject* parent)
    : TranslatableTableModel({QStringLiteral("User"), QStringLiteral("Requests")}, parent) {}

void PermissionTableModel::reload(const PermissionArray& permissions, const QString& anyone,
                                  const QStringList& permissionStrings) {
    beginResetModel();
    permissionStrings_ = permissionStrings;
    rows_.clear();
    rows_.reserve(permissions.count());
    for (size_t index = 0; index < permissions.count(); ++index) {
        const Permission& permission = permissions.objectAtIndex(index);
        Row row;
        row.value = permission.value();
        if (const auto& person = permission.person()) {
            row.personId = person->serverId();
            row.user = oneLineForDisplay(person->nick().empty() ? person->login() : person->nick());
        } else {
            row.user = anyone;
        }
        rows_.push_back(std::move(row));
    }
    endResetModel();
}

int PermissionTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant PermissionTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size()))
        return {};
    const Row& row = rows_[static_cast<size_t>(index.row())];
    if (role == Qt::FontRole && index.row() == 0) {
        QFont bold;
        bold.setBold(true);
        return bold;
    }
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    if (index.column() == kUser)
        return row.user;
    if (row.value >= 0 && row.value < permissionStrings_.size())
        return permissionStrings_.at(row.value);
    return QString();
}

Qt::ItemFlags PermissionTableModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = TranslatableTableModel::flags(index);
    if (index.isValid() && index.column() == kIncoming)
        flags |= Qt::ItemIsEditable;
    return flags;
}

bool PermissionTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !index.isValid() || index.column() != kIncoming ||
        index.row() >= static_cast<int>(rows_.size()))
        return false;
    emit permissionChosen(index.row(), value.toString());
    return true;
}

}  // namespace velmora::console
