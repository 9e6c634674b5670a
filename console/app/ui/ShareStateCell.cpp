#include "console/app/ui/ShareStateCell.h"

#include "console/app/ui/Translation.h"
#include "console/app/ui/UiImages.h"

namespace velmora::console {

ShareStateCell::ShareStateCell(const Translation& translation, QObject* parent)
    : QStyledItemDelegate(parent), translation_(translation) {}

void ShareStateCell::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    const bool shared = index.data(Qt::DisplayRole).toBool();
    option->text = shared ? QString::fromStdString(translation_.section("HTML", "Shared"))
                          : translation_.qtext("HTML", "NotShared", "Not shared");
    option->icon = UiImages::icon(shared ? QStringLiteral("cshared") : QStringLiteral("cunshared"));
    option->features |= QStyleOptionViewItem::HasDecoration;
    option->decorationSize = QSize(12, 12);
    option->decorationPosition = QStyleOptionViewItem::Left;
}

}  // namespace velmora::console
