#include "console/app/ui/PrinterOnlineCell.h"

#include "console/app/ui/Translation.h"
#include "console/app/ui/UiImages.h"

namespace velmora::console {

PrinterOnlineCell::PrinterOnlineCell(const Translation& translation, QObject* parent)
    : QStyledItemDelegate(parent), translation_(translation) {}

void PrinterOnlineCell::initStyleOption(QStyleOptionViewItem* option,
                                        const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    const bool online = index.data(Qt::DisplayRole).toBool();
    option->text =
        QString::fromStdString(translation_.section("HTML", online ? "Online" : "Offline"));
    option->icon = UiImages::icon(online ? QStringLiteral("cgreen") : QStringLiteral("cred"));
    option->features |= QStyleOptionViewItem::HasDecoration;
    option->decorationSize = QSize(12, 12);
    option->decorationPosition = QStyleOptionViewItem::Left;
}

}  // namespace velmora::console
