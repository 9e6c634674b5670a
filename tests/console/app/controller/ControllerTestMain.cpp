#include <gtest/gtest.h>

#include <QApplication>

// For ThreadSanitizer builds: libdbus, which libcups and the Avahi client use, hands its lazily
// made mutexes between threads through atomics of its own that an uninstrumented library does
// not show, and its own two entry points take its locks in either order. Reports from inside it
// say nothing about this program.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libdbus-1.so.3\ndeadlock:libdbus-1.so.3\n";
}

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
