#pragma once

#include "console/jobs/Job.h"
#include "platform/Logger.h"

#include <QImage>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <string>

class QPainter;

namespace velmora::console {

// A job's pages laid out for the print system: page N (from 1) is the paper-sized rectangle
// at y = N - 1, so a rectangle's whole y coordinate names the page index it shows. All sizes
// in points.
class PrintView {
  public:
    PrintView(const Job& job, QSizeF paper);

    QString printJobTitle() const;
    // The first and last page number; always true.
    bool knowsPageRange(int& first, int& last) const;
    // The page's rectangle; the empty rectangle for a number outside the job.
    QRectF rectForPage(int pageNumber) const;
    // Where an image of `image` size goes in `rect`: as large as fits without cropping, its
    // aspect ratio kept, centred in the other direction. Empty for an empty image.
    static QRectF fitRect(QSizeF image, const QRectF& rect);
    // Draws `image` fitted into `rect` of the painter's current coordinates.
    void drawPage(QPainter& painter, const QImage& image, const QRectF& rect) const;
    // Draws the page whose index is the rectangle's whole y coordinate into the paper area at
    // the painter's origin. True for an index outside the job (nothing to draw); false, with
    // the reason, when the page's image cannot be read.
    bool drawRect(QPainter& painter, const QRectF& rect, std::string& error) const;

    const Job& job() const { return job_; }
    QSizeF paper() const { return paper_; }

  private:
    const Job& job_;
    QSizeF paper_;
    Logger logger_;
};

}  // namespace velmora::console
