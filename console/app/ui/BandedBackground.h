#pragma once

#include <QWidget>

namespace velmora::console {

// The main window's background: white, a pale green band with a darker line along the top (the
// account line) and a band in the control colour along the bottom (the status line).
class BandedBackground : public QWidget {
    Q_OBJECT

  public:
    explicit BandedBackground(QWidget* parent = nullptr);

    static constexpr int kTopBand = 35;
    static constexpr int kBottomBand = 21;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace velmora::console
