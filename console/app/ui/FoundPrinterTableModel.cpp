#include "console/app/ui/FoundPrinterTableModel.h"

#include "console/app/ui/PlainText.h"

namespace velmora::console {

namespace {
constexpr int kCountryProperty = 5;
}

FoundPrinterTableModel::FoundPrinterTableModel(QObject* parent)
    : TranslatableTableModel(
          {QStringLiteral("Status"), QStringLiteral("Owner"), QStringLiteral("User ID"),
           QStringLiteral("Location"), QStringLiteral("Country"), QStringLiteral("Printer")},
          parent) {}

void FoundPrinterTableModel::setRows(std::vector<std::shared_ptr<RemotePrinter>> printers) {
    beginResetModel();
    printers_ = std::move(printers);
    endResetModel();
}

int FoundPrinterTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(printers_.size());
}

QVariant FoundPrinterTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(printers_.size()))
        return {};
    const RemotePrinter& printer = *printers_[static_cast<size_t>(index.row())];
    if (index.column() == kStatus && role == Qt::DisplayRole)
        return printer.online();
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
        case kOwner:
            return oneLineForDisplay(printer.owner().nick());
        case kOwnerId:
            return oneLineForDisplay(printer.owner().login());
        case kLocation:
            return oneLineForDisplay(printer.location());
        case kCountry:
            return oneLineForDisplay(printer.owner().getProperty(kCountryProperty));
        case kPrinter:
            return oneLineForDisplay(printer.shareTitle());
        default:
            return QString();
    }
}

}  // namespace velmora::console
