#pragma once

#include <QAbstractTableModel>
#include <QStringList>

namespace velmora::console {

// A table model whose column headers a translation may replace (Translation::control with a
// TableColumn).
class TranslatableTableModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    explicit TranslatableTableModel(QStringList headers, QObject* parent = nullptr);

    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role) override;

  private:
    QStringList headers_;
};

}  // namespace velmora::console
