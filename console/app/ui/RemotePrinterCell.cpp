#include "console/app/ui/RemotePrinterCell.h"

#include "console/app/ui/CellRoles.h"
#include "console/app/ui/UiImages.h"

namespace velmora::console {

RemotePrinterCell::RemotePrinterCell(QObject* parent) : QStyledItemDelegate(parent) {}

void RemotePrinterCell::initStyleOption(QStyleOptionViewItem* option,
                                        const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    if (!index.data(kIsDefaultRole).toBool()) {
        option->icon = QIcon();
        option->features &= ~QStyleOptionViewItem::HasDecoration;
        return;
    }
    option->icon = UiImages::icon(QStringLiteral("default"));
    option->features |= QStyleOptionViewItem::HasDecoration;
    option->decorationSize = QSize(12, 12);
    option->decorationPosition = QStyleOptionViewItem::Right;
}

}  // namespace velmora::console
