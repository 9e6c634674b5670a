#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "packaging/cups/UserProcess.h"

namespace velmora::backend {
namespace {

using ::testing::Contains;
using ::testing::Not;

// The scheduler starts the backend with its own environment: the proxy it was given must reach
// the sender, and nothing else of the scheduler's (or of a client's) environment may.
TEST(UserProcessTest, OnlyTheProxySettingsOfTheSchedulerReachTheUsersPrograms) {
    const UserProcess::Account account{"alice", 1000, 1000, "/home/alice"};
    const char* inherited[] = {"https_proxy=http://proxy.example:3128",
                               "no_proxy=localhost,.example.lan",
                               "LD_PRELOAD=/tmp/evil.so",
                               "PATH=/usr/lib/cups/filter:/usr/bin",
                               "HOME=/root",
                               "https_proxy_extra=x",
                               "not an assignment",
                               nullptr};
    const std::vector<std::string> environment = UserProcess::environmentFor(account, inherited);

    EXPECT_THAT(environment, Contains("https_proxy=http://proxy.example:3128"));
    EXPECT_THAT(environment, Contains("no_proxy=localhost,.example.lan"));
    EXPECT_THAT(environment, Contains("HOME=/home/alice"));
    EXPECT_THAT(environment, Contains("PATH=/usr/bin:/bin"));
    for (const char* foreign : {"LD_PRELOAD=/tmp/evil.so", "PATH=/usr/lib/cups/filter:/usr/bin",
                                "HOME=/root", "https_proxy_extra=x", "not an assignment"})
        EXPECT_THAT(environment, Not(Contains(foreign)));

    EXPECT_EQ(UserProcess::environmentFor(account, nullptr).size(), 5u);
}

}  // namespace
}  // namespace velmora::backend
