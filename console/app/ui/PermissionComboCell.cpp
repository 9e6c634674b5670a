#include "console/app/ui/PermissionComboCell.h"

#include <QComboBox>

#include <memory>

#include "console/app/ui/PermissionTableModel.h"

namespace velmora::console {

QWidget* PermissionComboCell::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                           const QModelIndex& index) const {
    const auto* model = qobject_cast<const PermissionTableModel*>(index.model());
    // The view owns the editor it asked for and deletes it when editing ends.
    auto editor = std::make_unique<QComboBox>(parent);
    if (model != nullptr)
        editor->addItems(model->permissionStrings());
    return editor.release();
}

void PermissionComboCell::setEditorData(QWidget* editor, const QModelIndex& index) const {
    if (auto* combo = qobject_cast<QComboBox*>(editor))
        combo->setCurrentText(index.data(Qt::EditRole).toString());
}

void PermissionComboCell::setModelData(QWidget* editor, QAbstractItemModel* model,
                                       const QModelIndex& index) const {
    if (auto* combo = qobject_cast<QComboBox*>(editor))
        model->setData(index, combo->currentText(), Qt::EditRole);
}

}  // namespace velmora::console
