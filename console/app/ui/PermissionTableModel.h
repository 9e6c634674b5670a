#pragma once

#include <QStringList>

#include <optional>
#include <vector>

#include "console/app/ui/TranslatableTableModel.h"

namespace velmora {
class PermissionArray;
}

namespace velmora::console {

// The permissions table: who ("Anyone" for the rule without a person, in bold) and what happens
// to their jobs. Rows are a copy taken at reload; each names its rule by the person's id, so a
// change is applied to the rule that person has now, wherever it moved.
class PermissionTableModel : public TranslatableTableModel {
    Q_OBJECT

  public:
    enum Column { kUser, kIncoming, kColumnCount };
    struct Row {
        std::optional<int> personId;  // none: the rule for anyone
        QString user;
        int value = 0;
    };

    explicit PermissionTableModel(QObject* parent = nullptr);

    void reload(const PermissionArray& permissions, const QString& anyone,
                const QStringList& permissionStrings);
    const std::vector<Row>& rows() const { return rows_; }
    const QStringList& permissionStrings() const { return permissionStrings_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // A new text for the permission column is handed on, not stored: the service decides.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

  signals:
    void permissionChosen(int row, const QString& text);

  private:
    std::vector<Row> rows_;
    QStringList permissionStrings_;
};

}  // namespace velmora::console
