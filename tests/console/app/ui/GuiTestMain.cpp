#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>

// Widgets need an application object; the offscreen platform needs no display.
int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
