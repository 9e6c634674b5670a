#include "console/app/ui/BandedBackground.h"

#include <QPainter>

namespace velmora::console {

BandedBackground::BandedBackground(QWidget* parent) : QWidget(parent) {}

void BandedBackground::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int w = width();
    const int h = height();
    painter.fillRect(rect(), Qt::white);
    painter.fillRect(0, 0, w, kTopBand, QColor(239, 249, 233));
    painter.fillRect(0, kTopBand, w, 1, QColor(118, 171, 87));
    painter.fillRect(0, h - kBottomBand, w, kBottomBand, palette().color(QPalette::Button));
    painter.fillRect(0, h - kBottomBand - 1, w, 1, palette().color(QPalette::Mid));
}

}  // namespace velmora::console
