#include "console/jobs/PrintView.h"

#include "console/jobs/PageImage.h"
#include "core/Deployment.h"

#include <QPainter>

#include <cmath>

namespace velmora::console {

PrintView::PrintView(const Job& job, QSizeF paper)
    : job_(job), paper_(paper), logger_(std::string(deployment::kLogSubsystem), "print") {}

QString PrintView::printJobTitle() const {
    return QString::fromStdString(job_.title());
}

bool PrintView::knowsPageRange(int& first, int& last) const {
    first = 1;
    last = static_cast<int>(job_.pages().size());
    return true;
}

QRectF PrintView::rectForPage(int pageNumber) const {
    if (pageNumber < 1 || pageNumber > static_cast<int>(job_.pages().size()))
        return {};
    return {0, static_cast<double>(pageNumber - 1), paper_.width(), paper_.height()};
}

QRectF PrintView::fitRect(QSizeF image, const QRectF& rect) {
    const double iw = image.width();
    const double ih = image.height();
    if (!(iw > 0) || !(ih > 0) || !(rect.height() > 0))
        return {};
    if (iw / ih > rect.width() / rect.height()) {
        const double height = ih * rect.width() / iw;
        return {rect.x(), rect.y() + (rect.height() - height) * 0.5, rect.width(), height};
    }
    const double width = iw * rect.height() / ih;
    return {rect.x() + (rect.width() - width) * 0.5, rect.y(), width, rect.height()};
}

void PrintView::drawPage(QPainter& painter, const QImage& image, const QRectF& rect) const {
    const QRectF target = fitRect(QSizeF(image.size()), rect);
    if (target.isEmpty())
        return;
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setOpacity(1.0);
    painter.drawImage(target, image, QRectF(0, 0, image.width(), image.height()));
}

bool PrintView::drawRect(QPainter& painter, const QRectF& rect, std::string& error) const {
    const double whole = std::floor(rect.y());
    if (whole < 0 || whole >= static_cast<double>(job_.pages().size()))
        return true;
    const int index = static_cast<int>(whole);
    logger_.notice("Draw page {}", index);
    const QString path = QString::fromStdString(job_.getFileNameForPage(index, false));
    const QRectF area(0, 0, rect.width(), rect.height());
    // Only this page's image is held while it is drawn.
    const std::optional<QImage> image = PageImage::load(path, area.size(), error);
    if (!image)
        return false;
    drawPage(painter, *image, area);
    return true;
}

}  // namespace velmora::console
