#include "console/app/ui/ServerAddress.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/console/app/ui/QtTestPrinting.h"

namespace velmora::console {
namespace {

TEST(ServerAddressTest, TypedAddressesGetHttpsUnlessTheyNameHttpOrHttps) {
    struct Case {
        QString typed;
        QString address;  // empty: refused
    };
    const std::vector<Case> cases = {
        {QStringLiteral("print.example"), QStringLiteral("https://print.example")},
        {QStringLiteral(" print.example:8443/ "), QStringLiteral("https://print.example:8443")},
        {QStringLiteral("http://127.0.0.1:8080"), QStringLiteral("http://127.0.0.1:8080")},
        {QStringLiteral("HTTPS://Print.Example"), QStringLiteral("HTTPS://Print.Example")},
        {QStringLiteral("http://[::1]:81"), QStringLiteral("http://[::1]:81")},
        {QStringLiteral("print.example/?next=http://x.example"),
         QStringLiteral("https://print.example/?next=http://x.example")},
        {QStringLiteral("ftp://print.example"), QString()},
        {QStringLiteral("file:///etc/passwd"), QString()},
        {QStringLiteral("javascript:alert(1)"), QString()},
        {QStringLiteral("http://a.example,https://b.example"), QString()},
        {QStringLiteral("http://"), QString()},
        {QStringLiteral(""), QString()},
        {QStringLiteral("print example"), QString()},
        {QStringLiteral("print.example\nHost: evil"), QString()},
        {QStringLiteral("print.example/") + QString(3000, u'a'), QString()},
    };
    for (const Case& c : cases) {
        QString address;
        QString error;
        const bool accepted = ServerAddress::fromTyped(c.typed, address, error);
        EXPECT_EQ(accepted, !c.address.isEmpty()) << c.typed.toStdString();
        if (accepted) {
            EXPECT_EQ(address, c.address);
        } else {
            EXPECT_FALSE(error.isEmpty()) << c.typed.toStdString();
        }
    }
}

TEST(ServerAddressTest, TheStoredServiceGivesSchemeHostAndPort) {
    struct Case {
        QString service;
        QString address;
    };
    const std::vector<Case> cases = {
        {QStringLiteral("http://127.0.0.1:8080/tdService.asmx"),
         QStringLiteral("http://127.0.0.1:8080")},
        {QStringLiteral("svc.example/tdService.asmx"), QStringLiteral("https://svc.example")},
        {QStringLiteral("https://user:pw@svc.example/x?y#z"),
         QStringLiteral("https://svc.example")},
        {QStringLiteral("http://[::1]:81/tdService.asmx"), QStringLiteral("http://[::1]:81")},
        {QString(), QString()},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ServerAddress::ofService(c.service), c.address) << c.service.toStdString();
    EXPECT_EQ(ServerAddress::endpoint(QStringLiteral("https://svc.example")),
              QStringLiteral("https://svc.example/tdService.asmx"));
}

}  // namespace
}  // namespace velmora::console
