#include <gtest/gtest.h>

#include <QApplication>

// The controller runs on Qt's event loop; the console without a window uses the offscreen
// platform, and so do these tests.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    int qtArgc = 3;
    char program[] = "console_controller_integration_tests";
    char platformFlag[] = "-platform";
    char platform[] = "offscreen";
    char* qtArgv[] = {program, platformFlag, platform, nullptr};
    QApplication application(qtArgc, qtArgv);
    return RUN_ALL_TESTS();
}
