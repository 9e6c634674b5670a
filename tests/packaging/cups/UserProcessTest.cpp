#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include "packaging/cups/UserProcess.h"
#include "platform/UniqueFd.h"

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

// The scheduler starts a backend with descriptors of the job's filters open beyond the standard
// three (its back channel and side channel); the programs run as the user must not hold them.
TEST(UserProcessTest, TheUsersProgramsGetNoDescriptorOfTheBackendBeyondTheStandardThree) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "Becoming another user needs root";
    const auto nobody = UserProcess::lookup("nobody");
    ASSERT_TRUE(nobody.has_value());
    int channel[2];
    ASSERT_EQ(::pipe(channel), 0);
    const UniqueFd readEnd(channel[0]);
    const UniqueFd writeEnd(channel[1]);
    const int held[] = {readEnd.get(), writeEnd.get()};
    const pid_t child = UserProcess::start(*nobody, -1, [&held] {
        int open = 0;
        for (int fd : held)
            open += ::fcntl(fd, F_GETFD) != -1 ? 1 : 0;
        return open;
    });
    ASSERT_GT(child, 0);
    EXPECT_EQ(UserProcess::wait(child), 0);
}

}  // namespace
}  // namespace velmora::backend
