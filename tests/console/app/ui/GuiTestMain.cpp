#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>

namespace {

QtMessageHandler defaultHandler = nullptr;

// The offscreen platform says so each time a window asks for opacity or to be raised.
void quietOffscreenNotes(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtWarningMsg && text.startsWith(QStringLiteral("This plugin does not support")))
        return;
    defaultHandler(type, context, text);
}

}  // namespace

// Widgets need an application object; the offscreen platform needs no display.
int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::testing::InitGoogleTest(&argc, argv);
    defaultHandler = qInstallMessageHandler(quietOffscreenNotes);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
