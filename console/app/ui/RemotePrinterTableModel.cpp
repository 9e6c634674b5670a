#include "console/app/ui/RemotePrinterTableModel.h"

#include "console/app/ui/CellRoles.h"

namespace velmora::console {

RemotePrinterTableModel::RemotePrinterTableModel(QObject* parent)
    : TranslatableTableModel(
          {QStringLiteral("Printer"), QStringLiteral("Status"), QStringLiteral("Owner")}, parent) {}

void RemotePrinterTableModel::setRows(std::vector<RemotePrinterRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

int RemotePrinterTableModel::rowOf(const std::string& publicId) const {
    for (size_t row = 0; row < rows_.size(); ++row) {
        if (rows_[row].publicId == publicId)
            return static_cast<int>(row);
    }
    return -1;
}

int RemotePrinterTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant RemotePrinterTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || static_cast<size_t>(index.row()) >= rows_.size())
        return {};
    const RemotePrinterRow& row = rows_[static_cast<size_t>(index.row())];
    if (role == kIsDefaultRole)
        return index.column() == kPrinter && row.isDefault;
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
        case kPrinter:
            return QString::fromStdString(row.title);
        case kStatus:
            return row.online;
        case kOwner:
            return QString::fromStdString(row.owner);
        default:
            return {};
    }
}

}  // namespace velmora::console
