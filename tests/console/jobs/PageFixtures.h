#pragma once

#include <QColor>
#include <QImage>
#include <QString>

#include <filesystem>
#include <string>

namespace velmora::test {

// A solid black image of that size: on paper its dark pixels are exactly where it was drawn.
inline void writeBlackImage(const std::filesystem::path& path, int width, int height,
                            const char* format) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::black);
    if (!image.save(QString::fromStdString(path.string()), format))
        throw std::runtime_error("cannot write " + path.string());
}

}  // namespace velmora::test
