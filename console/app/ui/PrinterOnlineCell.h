#pragma once

#include <QStyledItemDelegate>

namespace velmora::console {

class Translation;

// The remote printer table's state column: a green or red icon and "Online" or "Offline",
// from the row's boolean (no value reads as offline).
class PrinterOnlineCell : public QStyledItemDelegate {
    Q_OBJECT

  public:
    explicit PrinterOnlineCell(const Translation& translation, QObject* parent = nullptr);

    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

  private:
    const Translation& translation_;
};

}  // namespace velmora::console
