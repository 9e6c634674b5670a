#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QWidget>

#include <filesystem>
#include <string>

namespace velmora::test {

// A picture of a window for the README, taken as the tests run (VELMORA_SCREENSHOT_DIR).
inline void saveScreenshot(QWidget& widget, const char* name) {
    QApplication::processEvents();
    const QPixmap picture = widget.grab();
    const std::filesystem::path file =
        std::filesystem::path(VELMORA_SCREENSHOT_DIR) / (std::string(name) + ".png");
    std::filesystem::create_directories(file.parent_path());
    ASSERT_TRUE(picture.save(QString::fromStdString(file.string()), "PNG")) << file;
    EXPECT_EQ(QImage(QString::fromStdString(file.string())).size(),
              widget.size() * widget.devicePixelRatio());
}

}  // namespace velmora::test
