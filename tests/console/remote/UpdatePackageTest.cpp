#include "console/remote/UpdatePackage.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "console/remote/ProcessRunner.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora::console {
namespace {

namespace fs = std::filesystem;
using test::ScratchDirectory;

TEST(UpdatePackageTest, OnlyHttpsAddressesWithAHostAreFetched) {
    struct Case {
        std::string url;
        bool allowed;
    };
    const std::vector<Case> cases = {
        {"https://updates.example/velmora_2.0.3_amd64.deb", true},
        {"HTTPS://updates.example/v.deb", true},
        {"https://127.0.0.1:8443/downloads/v.pkg", true},
        {"http://updates.example/v.deb", false},
        {"ftp://updates.example/v.deb", false},
        {"file:///etc/passwd", false},
        {"https:///no-host", false},
        {"https://", false},
        {"//updates.example/v.deb", false},
        {"https://updates.example/a b.deb", false},
        {"https://updates.example/v.deb\nhttp://evil.example/", false},
        {" https://updates.example/v.deb", false},
        {"", false},
        {"https://updates.example/" + std::string(UpdatePackage::kMaxAddressLength, 'a'), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(UpdatePackage::isAllowedAddress(c.url), c.allowed) << c.url;
}

TEST(UpdatePackageTest, TheDownloadIsBoundedByTheAnnouncedSizeAndAHardMaximum) {
    EXPECT_EQ(UpdatePackage::maximumBytes(2048), 2048u * 1024 + UpdatePackage::kMarginBytes);
    EXPECT_EQ(UpdatePackage::maximumBytes(0.5), 512u + UpdatePackage::kMarginBytes);
    // Missing, negative, absurd or not a number: never more than the hard maximum, never a
    // wrapped small or huge figure.
    for (const double announced : {0.0, -5.0, 1e30, std::numeric_limits<double>::infinity(),
                                   std::numeric_limits<double>::quiet_NaN(),
                                   static_cast<double>(UpdatePackage::kHardMaximumBytes) / 1024.0})
        EXPECT_EQ(UpdatePackage::maximumBytes(announced), UpdatePackage::kHardMaximumBytes)
            << announced;
}

TEST(UpdatePackageTest, ProgressNeedsAKnownLength) {
    EXPECT_EQ(UpdatePackage::progressPercent(500, 0), std::nullopt);
    EXPECT_EQ(UpdatePackage::progressPercent(500, -1), std::nullopt);
    EXPECT_EQ(UpdatePackage::progressPercent(0, 1000), 0);
    EXPECT_EQ(UpdatePackage::progressPercent(250, 1000), 25);
    EXPECT_EQ(UpdatePackage::progressPercent(1000, 1000), 100);
    // More than announced never shows beyond full, and large figures do not overflow.
    EXPECT_EQ(UpdatePackage::progressPercent(5000, 1000), 100);
    EXPECT_EQ(UpdatePackage::progressPercent(std::uint64_t{1} << 40, std::int64_t{1} << 41), 50);
}

TEST(UpdatePackageTest, EachDownloadGetsANewFolderOnlyItsUserCanEnter) {
    ScratchDirectory shared("velmora-update-parent");
    ::chmod(shared.path().c_str(), 01777);
    std::string error;
    const auto first = UpdatePackage::makeDownloadFolder(shared.path(), error);
    const auto second = UpdatePackage::makeDownloadFolder(shared.path(), error);
    ASSERT_TRUE(first && second) << error;
    EXPECT_NE(*first, *second);
    struct stat info {};
    ASSERT_EQ(::lstat(first->c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(info.st_uid, ::getuid());
    // The file's name is ours, whatever the address ended with.
    EXPECT_EQ(UpdatePackage::targetIn(*first).filename(), UpdatePackage::kFileName);
    EXPECT_EQ(UpdatePackage::targetIn(*first).parent_path(), *first);

    EXPECT_FALSE(UpdatePackage::makeDownloadFolder(shared / "missing", error));
    EXPECT_NE(error.find("missing"), std::string::npos);
}

// A real Debian package built here with the system's own tool.
class PackageCheckTest : public ::testing::Test {
  protected:
    fs::path build(const std::string& package, const std::string& version) {
        const fs::path root = scratch_ / ("root-" + package + "-" + version);
        fs::create_directories(root / "DEBIAN");
        ScratchDirectory::writeFile(root / "DEBIAN" / "control",
                                    "Package: " + package + "\nVersion: " + version +
                                        "\nArchitecture: all\nMaintainer: Test <t@example.test>\n"
                                        "Description: test package\n");
        const fs::path deb = scratch_ / (package + "_" + version + ".deb");
        const auto result = ProcessRunner::run(
            {UpdatePackage::kDpkgDeb, "--root-owner-group", "--build", root.string(), deb.string()},
            std::chrono::seconds(60));
        EXPECT_TRUE(result.succeeded()) << result.output;
        return deb;
    }

    ScratchDirectory scratch_{"velmora-update-deb"};
};

TEST_F(PackageCheckTest, OnlyThisProgramsPackageInTheOfferedVersionPasses) {
    std::string error;
    EXPECT_TRUE(UpdatePackage::verify(build("velmora", "2.0.3"), 2003, error)) << error;
    EXPECT_TRUE(UpdatePackage::verify(build("velmora", "2.0.3-1"), 2003, error)) << error;

    struct Case {
        std::string package;
        std::string version;
        std::string reason;
    };
    for (const Case& c : std::vector<Case>{{"velmora-tools", "2.0.3", "not Velmora's"},
                                           {"bash", "2.0.3", "not Velmora's"},
                                           {"velmora", "2.0.4", "version 2.0.4"},
                                           {"velmora", "2.0.30", "version 2.0.30"},
                                           {"velmora", "1:2.0.3", "version 1:2.0.3"}}) {
        error.clear();
        EXPECT_FALSE(UpdatePackage::verify(build(c.package, c.version), 2003, error))
            << c.package << " " << c.version;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}

TEST_F(PackageCheckTest, AnythingButARegularDebianPackageIsRefused) {
    std::string error;
    const fs::path stand_in = scratch_ / "stand-in.deb";
    ScratchDirectory::writeFile(stand_in, std::string(4096, '\x7f'));
    EXPECT_FALSE(UpdatePackage::verify(stand_in, 2003, error));
    EXPECT_NE(error.find("not a Debian package"), std::string::npos) << error;

    // A link to a good package is not followed.
    const fs::path link = scratch_ / "link.deb";
    fs::create_symlink(build("velmora", "2.0.3"), link);
    EXPECT_FALSE(UpdatePackage::verify(link, 2003, error));
    EXPECT_FALSE(UpdatePackage::verify(scratch_ / "absent.deb", 2003, error));
}

TEST(UpdatePackageTest, TheInstallerGetsTheFileAsOneArgument) {
    const fs::path file = "/tmp/velmora-update-x/it's a \"file\"; rm -rf ~.deb";
    const auto arguments = UpdatePackage::installArguments(file);
    ASSERT_EQ(arguments.size(), 4u);
    EXPECT_EQ(arguments[0], UpdatePackage::kInstaller);
    EXPECT_EQ(arguments[1], "install");
    EXPECT_EQ(arguments.back(), file.string());
}

}  // namespace
}  // namespace velmora::console
