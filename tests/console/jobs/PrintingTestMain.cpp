#include <gtest/gtest.h>

#include <QGuiApplication>

#include <cstdlib>

#include "tests/console/jobs/PrintSystem.h"

// Printing through Qt needs a GUI application object; the console's headless mode runs on the
// offscreen platform too. The private scheduler starts first, so Qt's printer list is its.
int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::testing::InitGoogleTest(&argc, argv);
    velmora::test::PrintSystem::start();
    int result = 0;
    {
        QGuiApplication application(argc, argv);
        result = RUN_ALL_TESTS();
    }
    velmora::test::PrintSystem::stop();
    return result;
}
