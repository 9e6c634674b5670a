#include "console/app/ui/RightSearchField.h"

#include "console/app/ui/UiImages.h"

namespace velmora::console {

RightSearchField::RightSearchField(QWidget* parent) : QLineEdit(parent) {
    setClearButtonEnabled(false);
    searchButton_.setIcon(UiImages::icon(QStringLiteral("search")));
    addAction(&searchButton_, QLineEdit::TrailingPosition);
    connect(&searchButton_, &QAction::triggered, this, [this] { emit searchRequested(text()); });
    connect(this, &QLineEdit::returnPressed, this, [this] { emit searchRequested(text()); });
}

}  // namespace velmora::console
