#pragma once

#include <vector>

#include "console/app/MainViewUi.h"
#include "console/app/ui/TranslatableTableModel.h"

namespace velmora::console {

// The remote printer table: title (with the default mark in kIsDefaultRole for
// RemotePrinterCell), online state (a boolean for PrinterOnlineCell) and owner.
class RemotePrinterTableModel : public TranslatableTableModel {
    Q_OBJECT

  public:
    enum Column { kPrinter, kStatus, kOwner, kColumnCount };

    explicit RemotePrinterTableModel(QObject* parent = nullptr);

    void setRows(std::vector<RemotePrinterRow> rows);
    const std::vector<RemotePrinterRow>& rows() const { return rows_; }
    // The row of a printer by its public id, or -1.
    int rowOf(const std::string& publicId) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

  private:
    std::vector<RemotePrinterRow> rows_;
};

}  // namespace velmora::console
