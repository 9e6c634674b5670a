#pragma once

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

namespace velmora::console {

class ConsoleConfig;
class Translation;

// The status pop-up: one small window for every notice of the console (new jobs, delivery
// results). It fades out after its interval, and the check box turns that kind of notice off.
class IconTipController : public QWidget {
    Q_OBJECT

  public:
    // Notice kinds and the setting the check box turns off.
    static constexpr int kJobNotification = 0;
    static constexpr int kDeliveryResult = 1;

    IconTipController(ConsoleConfig& config, const Translation& translation);

    // Shows the notice at once; without a title only its text. An interval of 0 or less keeps
    // it until OK.
    void showStatusMessage(const QString& title, const QString& text, double interval,
                           int messageType);
    void closeWindow();

    // The opacity during the fade; 1.0 while fully shown.
    double alpha() const { return alphaTenths_ / 10.0; }
    int messageType() const { return messageType_; }
    double interval() const { return interval_; }

    QGridLayout layout;
    QLabel lTitle;
    QLabel lMessage;
    QCheckBox btnDontShow;
    QPushButton btnOk;

    static constexpr int kFadeStepMilliseconds = 30;
    // A notice longer than this is cut, so the pop-up stays a pop-up.
    static constexpr qsizetype kMaxShownLength = 600;

  private:
    void initDialog();
    void translate();
    void startBlur();
    void blur();
    void timerFired();

    ConsoleConfig& config_;
    const Translation& translation_;
    double interval_ = 0;
    int messageType_ = 0;
    // Tenths, so that nine steps of 0.1 reach zero exactly.
    int alphaTenths_ = 10;
    // One timer for the wait and the fade: a newer notice restarts it, so an older notice's
    // fade can never close the newer one.
    QTimer timer_;
};

}  // namespace velmora::console
