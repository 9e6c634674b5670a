#pragma once

#include <QStyledItemDelegate>

namespace velmora::console {

// A remote printer's title, as plain text; the account's default printer, known from the row's
// kIsDefaultRole and never from the title itself, carries the default icon at the right end.
class RemotePrinterCell : public QStyledItemDelegate {
    Q_OBJECT

  public:
    explicit RemotePrinterCell(QObject* parent = nullptr);

    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

}  // namespace velmora::console
