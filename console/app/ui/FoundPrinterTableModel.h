#pragma once

#include <memory>
#include <vector>

#include "console/app/ui/TranslatableTableModel.h"
#include "core/model/RemotePrinter.h"

namespace velmora::console {

// The printers a search found: online state, owner, owner's login, location, owner's country
// and title, as plain text.
class FoundPrinterTableModel : public TranslatableTableModel {
    Q_OBJECT

  public:
    enum Column { kStatus, kOwner, kOwnerId, kLocation, kCountry, kPrinter, kColumnCount };

    explicit FoundPrinterTableModel(QObject* parent = nullptr);

    void setRows(std::vector<std::shared_ptr<RemotePrinter>> printers);
    const std::vector<std::shared_ptr<RemotePrinter>>& rows() const { return printers_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

  private:
    std::vector<std::shared_ptr<RemotePrinter>> printers_;
};

}  // namespace velmora::console
