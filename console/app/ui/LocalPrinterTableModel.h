#pragma once

#include <vector>

#include "console/app/MainViewUi.h"
#include "console/app/ui/TranslatableTableModel.h"

namespace velmora::console {

// The local printer table: title, sharing state (a boolean for ShareStateCell) and status.
class LocalPrinterTableModel : public TranslatableTableModel {
    Q_OBJECT

  public:
    enum Column { kPrinter, kSharing, kStatus, kColumnCount };

    explicit LocalPrinterTableModel(QObject* parent = nullptr);

    void setRows(std::vector<LocalPrinterRow> rows);
    const std::vector<LocalPrinterRow>& rows() const { return rows_; }
    // The row of a printer by its queue name, or -1.
    int rowOf(const std::string& localTitle) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

  private:
    std::vector<LocalPrinterRow> rows_;
};

}  // namespace velmora::console
