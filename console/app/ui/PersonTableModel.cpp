#include "console/app/ui/PersonTableModel.h"

#include "console/app/ui/PlainText.h"

namespace velmora::console {

namespace {
constexpr int kFullName = 3;
}

PersonTableModel::PersonTableModel(QObject* parent)
    : TranslatableTableModel({QStringLiteral("Nick name"), QStringLiteral("Full name"),
                              QStringLiteral("User ID"), QStringLiteral("Location")},
                             parent) {}

void PersonTableModel::setRows(std::vector<Person> persons) {
    beginResetModel();
    persons_ = std::move(persons);
    endResetModel();
}

int PersonTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(persons_.size());
}

QVariant PersonTableModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() ||
        index.row() >= static_cast<int>(persons_.size()))
        return {};
    const Person& person = persons_[static_cast<size_t>(index.row())];
    switch (index.column()) {
        case kNick:
            return oneLineForDisplay(person.nick());
        case kName:
            return oneLineForDisplay(person.getProperty(kFullName));
        case kLogin:
            return oneLineForDisplay(person.login());
        case kLocation:
            return oneLineForDisplay(person.getCompleteAddress());
        default:
            return QString();
    }
}

}  // namespace velmora::console
