#include "console/app/ui/TranslatableTableModel.h"

namespace velmora::console {

TranslatableTableModel::TranslatableTableModel(QStringList headers, QObject* parent)
    : QAbstractTableModel(parent), headers_(std::move(headers)) {}

int TranslatableTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(headers_.size());
}

QVariant TranslatableTableModel::headerData(int section, Qt::Orientation orientation,
                                            int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= headers_.size())
        return QAbstractTableModel::headerData(section, orientation, role);
    return headers_[section];
}

bool TranslatableTableModel::setHeaderData(int section, Qt::Orientation orientation,
                                           const QVariant& value, int role) {
    if (orientation != Qt::Horizontal || (role != Qt::DisplayRole && role != Qt::EditRole) ||
        section < 0 || section >= headers_.size())
        return false;
    headers_[section] = value.toString();
    emit headerDataChanged(orientation, section, section);
    return true;
}

}  // namespace velmora::console
