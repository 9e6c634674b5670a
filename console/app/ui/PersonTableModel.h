#pragma once

#include <vector>

#include "console/app/ui/TranslatableTableModel.h"
#include "core/account/Person.h"

namespace velmora::console {

// The users a search found: nick, full name, login and address, as plain text.
class PersonTableModel : public TranslatableTableModel {
    Q_OBJECT

  public:
    enum Column { kNick, kName, kLogin, kLocation, kColumnCount };

    explicit PersonTableModel(QObject* parent = nullptr);

    void setRows(std::vector<Person> persons);
    const std::vector<Person>& rows() const { return persons_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

  private:
    std::vector<Person> persons_;
};

}  // namespace velmora::console
