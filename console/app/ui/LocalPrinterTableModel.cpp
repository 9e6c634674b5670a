#include "console/app/ui/LocalPrinterTableModel.h"

namespace velmora::console {

LocalPrinterTableModel::LocalPrinterTableModel(QObject* parent)
    : TranslatableTableModel(
          {QStringLiteral("Printer"), QStringLiteral("Sharing"), QStringLiteral("Status")},
          parent) {}

void LocalPrinterTableModel::setRows(std::vector<LocalPrinterRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

int LocalPrinterTableModel::rowOf(const std::string& localTitle) const {
    for (size_t row = 0; row < rows_.size(); ++row) {
        if (rows_[row].localTitle == localTitle)
            return static_cast<int>(row);
    }
    return -1;
}

int LocalPrinterTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant LocalPrinterTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || static_cast<size_t>(index.row()) >= rows_.size() ||
        role != Qt::DisplayRole)
        return {};
    const LocalPrinterRow& row = rows_[static_cast<size_t>(index.row())];
    switch (index.column()) {
        case kPrinter:
            return QString::fromStdString(row.title);
        case kSharing:
            return row.shared;
        case kStatus:
            return QString::fromStdString(row.status);
        default:
            return {};
    }
}

}  // namespace velmora::console
