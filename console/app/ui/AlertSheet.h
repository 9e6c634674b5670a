#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>
#include <memory>

#include "console/app/ui/DeleteLater.h"

class QPushButton;
class QWidget;

namespace velmora::console {

// The error or notice of one window: a window-modal message box over it, in plain text. A newer
// alert replaces the one still open.
class AlertSheet {
  public:
    explicit AlertSheet(QWidget& window);
    ~AlertSheet();
    AlertSheet(const AlertSheet&) = delete;
    AlertSheet& operator=(const AlertSheet&) = delete;

    void show(const QString& title, const QString& message, const QString& okText);
    // Two buttons; `done` runs once with true for the default one, false for any other ending.
    // A choice replaced by a newer sheet, or closed with Escape, ends with the default button.
    void showChoice(const QString& title, const QString& message, const QString& defaultText,
                    const QString& alternateText, std::function<void(bool)> done);
    // The open sheet, or null.
    QMessageBox* box() const;

    static constexpr qsizetype kMaxShownLength = 2000;

  private:
    QMessageBox& replaceBox(const QString& title, const QString& message);
    // Ends the open choice, if any, with `chosen`.
    void endChoice(bool chosen);

    QWidget& window_;
    LaterPtr<QMessageBox> box_;
    QPushButton* defaultButton_ = nullptr;
    std::function<void(bool)> pendingChoice_;
};

}  // namespace velmora::console
