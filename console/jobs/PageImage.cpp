#include "console/jobs/PageImage.h"

#include <QFile>
#include <QImageReader>
#include <QPdfDocument>

#include <cmath>

namespace velmora::console {

namespace {

constexpr double kPointsPerInch = 72;

void prepare(QImageReader& reader) {
    reader.setDecideFormatFromContent(true);
    reader.setAllocationLimit(PageImage::kAllocationLimitMiB);
}

bool usable(QSizeF size) {
    return size.isValid() && size.width() > 0 && size.height() > 0;
}

}  // namespace

bool PageImage::isPdf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(5) == "%PDF-";
}

std::optional<QSizeF> PageImage::probe(const QString& path, std::string& error) {
    if (isPdf(path)) {
        QPdfDocument document;
        if (document.load(path) != QPdfDocument::Error::None || document.pageCount() < 1) {
            error = "the PDF page cannot be read";
            return std::nullopt;
        }
        const QSizeF size = document.pagePointSize(0);
        if (!usable(size)) {
            error = "the PDF page is empty";
            return std::nullopt;
        }
        return size;
    }
    QImageReader reader(path);
    prepare(reader);
    if (!reader.canRead()) {
        error = reader.errorString().toStdString();
        return std::nullopt;
    }
    const QSize size = reader.size();
    if (!usable(QSizeF(size))) {
        error = "the image is empty";
        return std::nullopt;
    }
    const double bytes = static_cast<double>(size.width()) * size.height() * 4;
    if (bytes > static_cast<double>(kAllocationLimitMiB) * 1024 * 1024) {
        error = "the image is too large";
        return std::nullopt;
    }
    return QSizeF(size);
}

bool PageImage::verify(const QString& path, std::string& error) {
    if (!probe(path, error))
        return false;
    return isPdf(path) || load(path, QSizeF(), error).has_value();
}

std::optional<QImage> PageImage::load(const QString& path, QSizeF fitPoints, std::string& error) {
    if (isPdf(path)) {
        QPdfDocument document;
        if (document.load(path) != QPdfDocument::Error::None || document.pageCount() < 1) {
            error = "the PDF page cannot be read";
            return std::nullopt;
        }
        const QSizeF box = document.pagePointSize(0);
        if (!usable(box)) {
            error = "the PDF page is empty";
            return std::nullopt;
        }
        // Rendering stretches the page to the size asked for: ask for the page's own shape,
        // fitted, so that the fit that draws it has nothing left to change.
        const QSizeF fitted = box.scaled(fitPoints, Qt::KeepAspectRatio);
        const double scale = kPdfDotsPerInch / kPointsPerInch;
        const QSize pixels(std::max(1, static_cast<int>(std::lround(fitted.width() * scale))),
                           std::max(1, static_cast<int>(std::lround(fitted.height() * scale))));
        QImage image = document.render(0, pixels);
        if (image.isNull()) {
            error = "the PDF page cannot be rendered";
            return std::nullopt;
        }
        return image;
    }
    QImageReader reader(path);
    prepare(reader);
    QImage image = reader.read();
    if (image.isNull()) {
        error = reader.errorString().toStdString();
        return std::nullopt;
    }
    return image;
}

}  // namespace velmora::console
