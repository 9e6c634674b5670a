#include <gtest/gtest.h>

#include "sender/DirectAddress.h"
#include "sender/ServiceUrl.h"

namespace velmora {
namespace {

TEST(DirectAddressTest, ABareAddressIsReachedOverPlainHttpAndASchemeIsKept) {
    const std::pair<const char*, const char*> cases[] = {
        {"192.168.1.20:8032", "http://192.168.1.20:8032/hello"},
        {"printer-room.local:8032", "http://printer-room.local:8032/hello"},
        {"console.example", "http://console.example/hello"},
        {"http://192.168.1.20:8032", "http://192.168.1.20:8032/hello"},
        {"HTTPS://console.example:8443/", "https://console.example:8443/hello"},
        {"[fe80::1]:8032", "http://[fe80::1]:8032/hello"},
        {"http://[::1]", "http://[::1]/hello"},
    };
    for (const auto& [text, url] : cases) {
        const auto address = DirectAddress::parse(text);
        ASSERT_TRUE(address.has_value()) << text;
        EXPECT_EQ(address->url("/hello"), url) << text;
    }
    EXPECT_EQ(DirectAddress::parse("10.0.0.2:8032")->url("/post"), "http://10.0.0.2:8032/post");
}

TEST(DirectAddressTest, AnythingButAServerAddressIsRefused) {
    for (const char* text : {"",
                             "://host:1",
                             "ftp://host:21",
                             "file:///etc/passwd",
                             "host:8032/evil",
                             "host:8032?x=1",
                             "host:8032#frag",
                             "user@host:8032",
                             "http://user:pw@host",
                             "host:",
                             "host:0",
                             "host:65536",
                             "host:80a",
                             "host name:80",
                             "host\r\nX: y",
                             "-host:80",
                             "http://",
                             "[::1",
                             "[zz::1]:80",
                             "host:8032//",
                             "javascript:alert(1)"}) {
        EXPECT_FALSE(DirectAddress::parse(text).has_value()) << text;
    }
}

TEST(ServiceUrlTest, OnlyAbsoluteWebAddressesAreUploadAddresses) {
    for (const char* text : {"https://service.example/tdUpload.aspx?job=1001",
                             "http://127.0.0.1:8080/tdUpload.aspx?job=7", "HTTP://Host/x"}) {
        EXPECT_TRUE(ServiceUrl::isHttpUrl(text)) << text;
    }
    for (const char* text : {"", "file:///etc/passwd", "ftp://service.example/x", "/tdUpload.aspx",
                             "service.example/tdUpload.aspx", "http://", "http:// host/x",
                             "https://host/x\r\nInjected: 1", "gopher://host"}) {
        EXPECT_FALSE(ServiceUrl::isHttpUrl(text)) << text;
    }
    EXPECT_EQ(ServiceUrl::hostOf("https://service.example:8443/tdService.asmx"), "service.example");
    EXPECT_EQ(ServiceUrl::hostOf("not a url"), "");
}

}  // namespace
}  // namespace velmora
