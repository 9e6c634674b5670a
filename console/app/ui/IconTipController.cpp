#include "console/app/ui/IconTipController.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <string>

#include "console/app/ui/PlainText.h"
#include "console/app/ui/Translation.h"
#include "console/service/ConsoleConfig.h"
#include "core/Deployment.h"
#include "platform/Logger.h"

namespace velmora::console {

namespace {

const Logger& logger() {
    static const Logger log(std::string(deployment::kLogSubsystem), "ui");
    return log;
}

constexpr int kWidth = 320;

QString shortened(const QString& text) {
    return shortenedForDisplay(text, IconTipController::kMaxShownLength);
}

}  // namespace

IconTipController::IconTipController(ConsoleConfig& config, const Translation& translation)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      config_(config),
      translation_(translation) {
    usePlainText({&lTitle, &lMessage});
    QFont bold = lTitle.font();
    bold.setBold(true);
    lTitle.setFont(bold);
    lTitle.setWordWrap(true);
    lMessage.setWordWrap(true);
    btnDontShow.setText(QStringLiteral("Don't show again"));
    layout.addWidget(&lTitle, 0, 0, 1, 2);
    layout.addWidget(&lMessage, 1, 0, 1, 2);
    layout.addWidget(&btnDontShow, 2, 0);
    layout.addWidget(&btnOk, 2, 1);
    layout.setColumnStretch(0, 1);
    setLayout(&layout);
    setFixedWidth(kWidth);
    connect(&btnOk, &QPushButton::clicked, this, &IconTipController::closeWindow);
    timer_.setSingleShot(false);
    connect(&timer_, &QTimer::timeout, this, &IconTipController::timerFired);
}

void IconTipController::showStatusMessage(const QString& title, const QString& text,
                                          double interval, int messageType) {
    lTitle.setText(shortened(title));
    lMessage.setText(shortened(text));
    interval_ = interval;
    messageType_ = messageType;
    initDialog();
    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.right() - width() - 16, area.top() + 16);
    }
    show();
    raise();
}

void IconTipController::initDialog() {
    translate();
    timer_.stop();
    alphaTenths_ = 10;
    setWindowOpacity(1.0);
    btnDontShow.setChecked(false);
    lTitle.setVisible(!lTitle.text().isEmpty());
    if (interval_ > 0) {
        // Beyond a day the notice simply stays.
        const double milliseconds = std::min(interval_ * 1000.0, 86'400'000.0);
        timer_.start(static_cast<int>(milliseconds));
    }
}

void IconTipController::translate() {
    btnOk.setText(translation_.qtext("Common", "OK", "OK"));
}

void IconTipController::timerFired() {
    if (alphaTenths_ == 10)
        startBlur();
    else
        blur();
}

void IconTipController::startBlur() {
    alphaTenths_ = 9;
    timer_.start(kFadeStepMilliseconds);
    blur();
}

void IconTipController::blur() {
    setWindowOpacity(alpha());
    --alphaTenths_;
    if (alphaTenths_ <= 0)
        closeWindow();
}

void IconTipController::closeWindow() {
    timer_.stop();
    if (btnDontShow.isChecked()) {
        if (messageType_ == kJobNotification)
            config_.setJobNotifications(false);
        else if (messageType_ == kDeliveryResult)
            config_.setShowDeliveryResult(false);
        std::string error;
        if (!config_.saveSetup(error))
            logger().error("Settings not saved: {}", error);
        btnDontShow.setChecked(false);
    }
    alphaTenths_ = 10;
    hide();
}

}  // namespace velmora::console
