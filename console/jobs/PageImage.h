#pragma once

#include <QImage>
#include <QSize>
#include <QSizeF>
#include <QString>

#include <optional>
#include <string>

namespace velmora::console {

// One page file of a job as an image. The format comes from the file's content, never from its
// name: every page file is called "N.emf" whatever it holds. PDF pages show their first page.
class PageImage {
  public:
    // No single page image may need more memory than this to decode.
    static constexpr int kAllocationLimitMiB = 512;
    // PDF pages are rendered at no more than this resolution of the area they fill.
    static constexpr double kPdfDotsPerInch = 300;

    // The image's size in pixels (for a PDF page, in points) from the file's header alone;
    // nullopt with the reason when the file is not a readable, non-empty image.
    static std::optional<QSizeF> probe(const QString& path, std::string& error);
    // The probe, then for an image a whole decode, dropped at once: a file whose header is sound
    // but whose body is not must fail before the first page reaches the print system, which
    // cannot take back pages already drawn.
    static bool verify(const QString& path, std::string& error);
    // Decodes the page. `fitPoints`: the area the page will fill, which sets a PDF page's
    // rendering size.
    static std::optional<QImage> load(const QString& path, QSizeF fitPoints, std::string& error);

  private:
    static bool isPdf(const QString& path);
};

}  // namespace velmora::console
