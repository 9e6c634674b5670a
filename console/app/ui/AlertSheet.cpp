#include "console/app/ui/AlertSheet.h"

#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include "console/app/ui/PlainText.h"

namespace velmora::console {

AlertSheet::AlertSheet(QWidget& window) : window_(window) {}

AlertSheet::~AlertSheet() {
    if (box_)
        box_->disconnect();
}

QMessageBox& AlertSheet::replaceBox(const QString& title, const QString& message) {
    if (box_) {
        box_->disconnect();
        box_->hide();
        box_.reset();
    }
    // Only a click on the other button may act: it removes a printer or signs the user out.
    // A choice that nobody answered takes the harmless default.
    endChoice(true);
    box_.reset(new QMessageBox(&window_));
    box_->setWindowModality(Qt::WindowModal);
    box_->setTextFormat(Qt::PlainText);
    box_->setText(shortenedForDisplay(title, kMaxShownLength));
    box_->setInformativeText(shortenedForDisplay(message, kMaxShownLength));
    // The informative text gets a label of its own, which would guess the format otherwise.
    for (QLabel* label : box_->findChildren<QLabel*>()) {
        label->setTextFormat(Qt::PlainText);
        label->setTextInteractionFlags(Qt::NoTextInteraction);
    }
    defaultButton_ = nullptr;
    return *box_;
}

void AlertSheet::endChoice(bool chosen) {
    std::function<void(bool)> done = std::move(pendingChoice_);
    pendingChoice_ = nullptr;
    if (done)
        done(chosen);
}

void AlertSheet::show(const QString& title, const QString& message, const QString& okText) {
    QMessageBox& box = replaceBox(title, message);
    box.setIcon(QMessageBox::Warning);
    box.addButton(okText, QMessageBox::AcceptRole);
    box.open();
}

void AlertSheet::showChoice(const QString& title, const QString& message,
                            const QString& defaultText, const QString& alternateText,
                            std::function<void(bool)> done) {
    QMessageBox& box = replaceBox(title, message);
    box.setIcon(QMessageBox::Question);
    defaultButton_ = box.addButton(defaultText, QMessageBox::AcceptRole);
    box.addButton(alternateText, QMessageBox::RejectRole);
    box.setDefaultButton(defaultButton_);
    box.setEscapeButton(defaultButton_);
    pendingChoice_ = std::move(done);
    QObject::connect(&box, &QMessageBox::finished, &box, [this, &box](int) {
        endChoice(box.clickedButton() != nullptr && box.clickedButton() == defaultButton_);
    });
    box.open();
}

QMessageBox* AlertSheet::box() const {
    return box_.get();
}

}  // namespace velmora::console
