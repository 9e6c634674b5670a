#include "console/app/ui/UpdateController.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QSslCertificate>
#include <QtTest/QTest>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "console/app/ui/Translation.h"
#include "console/remote/ProcessRunner.h"
#include "console/remote/UpdatePackage.h"
#include "console/service/ConsoleConfig.h"
#include "console/service/ConsoleInetProvider.h"
#include "tests/console/app/ui/WindowScreenshot.h"
#include "tests/support/RefServiceProcess.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora::console {
namespace {

namespace fs = std::filesystem;
using test::RefServiceProcess;
using test::ScratchDirectory;
using Stage = UpdateController::Stage;

// The service's stand-in package: 40000 bytes, announced as 40 kilobytes.
constexpr int kPackageBytes = 40000;
constexpr const char* kSeed = R"({"server": {"update": {"version": 2003, "size": 40,
    "package_bytes": 40000}}})";

// The update window against the reference service serving TLS on loopback with a certificate
// made for the test, trusted by the window alone.
class UpdateControllerTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        scratch_ = std::make_unique<ScratchDirectory>("velmora-update-window");
        const fs::path cert = *scratch_ / "cert.pem";
        const fs::path key = *scratch_ / "key.pem";
        const auto made =
            ProcessRunner::run({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                                "-keyout", key.string(), "-out", cert.string(), "-days", "1",
                                "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"},
                               std::chrono::seconds(60));
        ASSERT_TRUE(made.succeeded()) << made.output;
        certificate_ = QSslCertificate::fromPath(QString::fromStdString(cert.string()));
        ScratchDirectory::writeFile(*scratch_ / "seed.json", kSeed);
        tls_ = std::make_unique<RefServiceProcess>(
            *scratch_ / "seed.json",
            std::vector<std::string>{"--cert", cert.string(), "--key", key.string()},
            *scratch_ / "tls.log");
        plain_ = std::make_unique<RefServiceProcess>(
            *scratch_ / "seed.json", std::vector<std::string>{}, *scratch_ / "plain.log");
    }
    static void TearDownTestSuite() {
        tls_.reset();
        plain_.reset();
        scratch_.reset();
    }

    void SetUp() override {
        ASSERT_FALSE(certificate_.isEmpty());
        window_ = std::make_unique<UpdateController>(translation_);
        window_->setDownloadParent(downloads_.path());
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        ssl.setCaCertificates(certificate_);
        window_->setSslConfiguration(ssl);
        window_->show();
    }

    static std::string tlsAddress(const std::string& path) {
        return "https://127.0.0.1:" + std::to_string(tls_->port()) + path;
    }
    static UpdateOffer offer(std::string href, double kilobytes = 40) {
        return UpdateOffer{std::move(href), 2003, kilobytes,
                           ConsoleInetProvider::updateDescription(2003, kilobytes)};
    }
    bool waitWhileDownloading() {
        return QTest::qWaitFor([&] { return window_->stage() != Stage::Downloading; }, 30000);
    }
    // The download folders made so far.
    std::vector<fs::path> folders() const {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(downloads_.path()))
            found.push_back(entry.path());
        return found;
    }

    static inline std::unique_ptr<ScratchDirectory> scratch_;
    static inline std::unique_ptr<RefServiceProcess> tls_;
    static inline std::unique_ptr<RefServiceProcess> plain_;
    static inline QList<QSslCertificate> certificate_;

    ScratchDirectory downloads_{"velmora-update-downloads"};
    ScratchDirectory settings_{"velmora-update-settings"};
    ConsoleConfig config_{settings_.path()};
    Translation translation_{config_};
    std::unique_ptr<UpdateController> window_;
};

TEST_F(UpdateControllerTest, AnHttpPackageAddressIsNeverFetched) {
    window_->setLink(offer(plain_->base() + "/downloads/v.pkg"));
    EXPECT_EQ(window_->stage(), Stage::Failed);
    EXPECT_TRUE(window_->lStatus.text().contains(QStringLiteral("secure")));
    EXPECT_TRUE(plain_->requests("package").empty());
    EXPECT_TRUE(folders().empty());
    EXPECT_FALSE(window_->btnInstall.isVisible());
}

TEST_F(UpdateControllerTest, AnHttpsPackageLandsUnderAFixedNameInAPrivateFolder) {
    // The service names the file; the window does not use that name.
    window_->setLink(offer(tlsAddress("/downloads/..setup.alice.xml")));
    ASSERT_TRUE(waitWhileDownloading());
    EXPECT_EQ(window_->bytesReceived(), static_cast<std::uint64_t>(kPackageBytes));
    EXPECT_EQ(window_->progressBar.value(), 100);
    ASSERT_TRUE(window_->target().has_value());
    const fs::path file = *window_->target();
    EXPECT_EQ(file.filename(), UpdatePackage::kFileName);
    ASSERT_EQ(folders().size(), 1u);
    EXPECT_EQ(file.parent_path(), folders().front());
    struct stat info {};
    ASSERT_EQ(::stat(file.parent_path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(fs::file_size(file), static_cast<std::uintmax_t>(kPackageBytes));
    // The stand-in is not a Debian package: nothing is installed, the window says so and
    // offers the file instead.
    EXPECT_EQ(window_->stage(), Stage::Showing);
    EXPECT_FALSE(window_->btnInstall.isVisible());
    EXPECT_TRUE(window_->btnShowFile.isVisible());
    EXPECT_TRUE(window_->lStatus.text().contains(QString::fromStdString(file.string())));
    EXPECT_TRUE(window_->lStatus.text().contains(QStringLiteral("not a Debian package")));
    test::saveWindowScreenshot(*window_, "update-window");
}

TEST_F(UpdateControllerTest, APackageLargerThanAnnouncedIsCutOff) {
    // A byte announced: size and margin together stay far below the 40000 bytes sent.
    window_->setLink(offer(tlsAddress("/downloads/v.pkg"), 0.001));
    ASSERT_TRUE(waitWhileDownloading());
    EXPECT_EQ(window_->stage(), Stage::Failed);
    EXPECT_TRUE(window_->lStatus.text().contains(QStringLiteral("larger than announced")));
    EXPECT_LE(window_->bytesReceived(), UpdatePackage::maximumBytes(0.001));
    EXPECT_FALSE(window_->btnInstall.isVisible());
}

TEST_F(UpdateControllerTest, AnUntrustedCertificateStopsTheDownload) {
    window_->setSslConfiguration(QSslConfiguration::defaultConfiguration());
    window_->setLink(offer(tlsAddress("/downloads/v.pkg")));
    ASSERT_TRUE(waitWhileDownloading());
    EXPECT_EQ(window_->stage(), Stage::Failed);
    EXPECT_EQ(window_->bytesReceived(), 0u);
}

TEST_F(UpdateControllerTest, ClosingTheWindowCancelsTheDownload) {
    window_->setLink(offer(tlsAddress("/downloads/v.pkg")));
    ASSERT_EQ(window_->stage(), Stage::Downloading);
    QTest::mouseClick(&window_->btnCancel, Qt::LeftButton);
    EXPECT_FALSE(window_->isVisible());
    EXPECT_NE(window_->stage(), Stage::Downloading);
    // Nothing arrives after the cancel.
    const std::uint64_t received = window_->bytesReceived();
    QTest::qWait(300);
    EXPECT_EQ(window_->bytesReceived(), received);
    EXPECT_NE(window_->stage(), Stage::Showing);
}

}  // namespace
}  // namespace velmora::console
