#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QHostAddress>
#include <QTcpServer>

#include <cstdlib>
#include <string>

#include "console/app/controller/AppContext.h"
#include "platform/CaptureLogSink.h"
#include "platform/Logger.h"
#include "tests/console/app/controller/RecordingUi.h"
#include "tests/support/PrivateAvahi.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora::console {
namespace {

using velmora::test::PrivateAvahi;
using velmora::test::RecordingUi;
using velmora::test::ScratchDirectory;

// The started console announces its direct print server on the local network, with the
// program's version in the TXT record: 1.6.1 is the number 1601 split into its parts.
TEST(ConsoleAnnouncementTest, TheStartedConsoleAnnouncesItsServerAndVersion) {
    PrivateAvahi avahi;
    if (!avahi.failure().empty())
        GTEST_SKIP() << "No private D-Bus for the announcement: " << avahi.failure();
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", avahi.busAddress().c_str(), 1);
    if (!avahi.startDaemon())
        GTEST_SKIP() << "No private Avahi daemon for the announcement: " << avahi.failure();
    auto log = std::make_shared<CaptureLogSink>();
    const auto previousSink = Logger::setSink(log);

    // A port nobody uses, so that the line found is this console's.
    uint16_t port = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::AnyIPv4, 0));
        port = probe.serverPort();
    }
    ScratchDirectory system("velmora-announce");
    ::chmod(system.path().c_str(), 0755);
    AppContext::Options options;
    options.systemDir = system.path();
    options.headless = true;
    options.directPort = port;
    options.printServer = "/nonexistent/cups.sock";
    RecordingUi ui;
    {
        AppContext context(options);
        context.mainView().attachUi(ui);
        context.mainView().awakeFromNib();
        context.appController().applicationDidFinishLaunching();
        const std::string expected = ";" + std::to_string(port) + ";\"client=Velmora/linux 1.6.1\"";
        std::string found;
        EXPECT_TRUE(PrivateAvahi::waitFor([&] {
            for (const std::string& line : avahi.resolved("_velmora._tcp")) {
                if (line.find(expected) != std::string::npos)
                    found = line;
            }
            return !found.empty();
        })) << "no announcement with "
            << expected;
        EXPECT_NE(found.find(";_velmora._tcp;local;"), std::string::npos) << found;
        context.shutdown();
        context.appController().applicationWillTerminate();
    }
    Logger::setSink(previousSink);
}

}  // namespace
}  // namespace velmora::console
