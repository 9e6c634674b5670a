#include <gtest/gtest.h>

#include <algorithm>

#include "console/remote/LpadminCommand.h"
#include "core/config/Config.h"

namespace velmora::console {
namespace {

std::string ppdArgument(const std::vector<std::string>& arguments) {
    const auto flag = std::find(arguments.begin(), arguments.end(), "-P");
    return flag == arguments.end() || flag + 1 == arguments.end() ? "" : *(flag + 1);
}

// Every user may add files to the shared folder, so a duplex PPD there would be whoever's came
// first; lpadmin (root, through the helper) must only ever get the installed one for duplex.
TEST(LpadminCommandTest, OnlyTheGeneratedPpdComesFromTheSharedFolder) {
    LpadminCommand::Settings settings;
    settings.systemDir = "/var/lib/velmora";
    settings.ppdOwner = "alice";
    settings.duplexPpd = "/usr/share/velmora/Velmora_duplex.ppd";
    struct Case {
        QueueOperation::Kind kind;
        bool duplex;
        std::string ppd;
    };
    using Kind = QueueOperation::Kind;
    for (const Case& c :
         std::vector<Case>{{Kind::Add, false, "/var/lib/velmora/Velmora.alice.ppd"},
                           {Kind::Add, true, "/usr/share/velmora/Velmora_duplex.ppd"},
                           {Kind::SwitchPpd, false, "/var/lib/velmora/Velmora.alice.ppd"},
                           {Kind::SwitchPpd, true, "/usr/share/velmora/Velmora_duplex.ppd"},
                           {Kind::Rename, true, ""},
                           {Kind::Remove, true, ""}}) {
        const QueueOperation operation{c.kind, "Velmora_p1", "Office", c.duplex};
        EXPECT_EQ(ppdArgument(LpadminCommand::arguments(operation, settings)), c.ppd)
            << QueueOperation::kindName(c.kind) << " duplex " << c.duplex;
    }
}

TEST(LpadminCommandTest, TheInstalledDuplexPpdIsOutsideTheSharedFolder) {
    const std::filesystem::path installed = LpadminCommand::Settings().duplexPpd;
    EXPECT_TRUE(installed.is_absolute()) << installed;
    EXPECT_EQ(installed.filename(), LpadminCommand::kDuplexPpdName);
    const std::filesystem::path shared = Config::defaultSystemDir();
    const auto [sharedEnd, unused] =
        std::mismatch(shared.begin(), shared.end(), installed.begin(), installed.end());
    EXPECT_NE(sharedEnd, shared.end()) << installed << " lies in " << shared;
}

}  // namespace
}  // namespace velmora::console
