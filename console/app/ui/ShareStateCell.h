#pragma once

#include <QStyledItemDelegate>

namespace velmora::console {

class Translation;

// The local printer table's sharing column: an icon and "Shared" or "Not shared", from the
// row's boolean (no value reads as not shared).
class ShareStateCell : public QStyledItemDelegate {
    Q_OBJECT

  public:
    explicit ShareStateCell(const Translation& translation, QObject* parent = nullptr);

    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

  private:
    const Translation& translation_;
};

}  // namespace velmora::console
