#pragma once

#include <QAction>
#include <QLineEdit>

namespace velmora::console {

// The find dialogs' search field: the search button at the right end, no clear button.
class RightSearchField : public QLineEdit {
    Q_OBJECT

  public:
    explicit RightSearchField(QWidget* parent = nullptr);

    QAction& searchButton() { return searchButton_; }

  signals:
    // The search button was pressed, or Return in the field.
    void searchRequested(const QString& text);

  private:
    QAction searchButton_;
};

}  // namespace velmora::console
