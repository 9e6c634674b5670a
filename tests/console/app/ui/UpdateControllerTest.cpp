#include "console/app/ui/UpdateController.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QProcess>
#include <QSslCertificate>
#include <QtTest/QTest>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "console/app/ui/Translation.h"
#include "console/remote/ProcessRunner.h"
#include "console/remote/UpdatePackage.h"
#include "console/service/ConsoleConfig.h"
#include "console/service/ConsoleInetProvider.h"
#include "tests/console/app/ui/Screenshot.h"
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
        const fs::path cert = certFile();
        const fs::path key = keyFile();
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

    static fs::path certFile() { return *scratch_ / "cert.pem"; }
    static fs::path keyFile() { return *scratch_ / "key.pem"; }

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
    test::saveScreenshot(*window_, "update-window");
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

// A download cut off or cancelled is of no use to anyone: up to the hard maximum would otherwise
// stay in the temporary folder after every attempt.
TEST_F(UpdateControllerTest, AnUnfinishedDownloadLeavesNothingBehind) {
    const std::vector<std::function<void()>> interruptions = {
        [&] {
            window_->setLink(offer(tlsAddress("/downloads/v.pkg"), 0.001));
            ASSERT_TRUE(waitWhileDownloading());
            EXPECT_EQ(window_->stage(), Stage::Failed);
        },
        [&] {
            window_->setLink(offer(tlsAddress("/downloads/v.pkg")));
            ASSERT_EQ(window_->stage(), Stage::Downloading);
            QTest::mouseClick(&window_->btnCancel, Qt::LeftButton);
        },
    };
    for (size_t index = 0; index < interruptions.size(); ++index) {
        interruptions[index]();
        EXPECT_TRUE(folders().empty()) << "interruption " << index;
        EXPECT_FALSE(window_->btnShowFile.isVisible());
    }
}

// Real Debian packages served over TLS from a folder, so the window's check of what it
// downloaded meets the real thing.
class PackageInstallTest : public UpdateControllerTest {
  protected:
    void SetUp() override {
        UpdateControllerTest::SetUp();
        const QString script = QStringLiteral(
            "import http.server, ssl, sys\n"
            "handler = lambda *a: http.server.SimpleHTTPRequestHandler(*a, directory=sys.argv[1])\n"
            "server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), handler)\n"
            "context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)\n"
            "context.load_cert_chain(sys.argv[2], sys.argv[3])\n"
            "server.socket = context.wrap_socket(server.socket, server_side=True)\n"
            "print(server.server_address[1], flush=True)\n"
            "server.serve_forever()\n");
        server_.start(QStringLiteral(VELMORA_PYTHON),
                      {QStringLiteral("-c"), script, QString::fromStdString(served_.path()),
                       QString::fromStdString(certFile()), QString::fromStdString(keyFile())});
        ASSERT_TRUE(server_.waitForReadyRead(30000)) << server_.readAllStandardError().data();
        port_ = server_.readLine().trimmed().toInt();
        ASSERT_GT(port_, 0);
    }
    void TearDown() override {
        server_.kill();
        server_.waitForFinished();
    }

    // Builds a package named `package` in `version` as `fileName` in the served folder.
    void serve(const std::string& fileName, const std::string& package,
               const std::string& version) {
        const fs::path root = served_ / ("root-" + fileName);
        fs::create_directories(root / "DEBIAN");
        ScratchDirectory::writeFile(root / "DEBIAN" / "control",
                                    "Package: " + package + "\nVersion: " + version +
                                        "\nArchitecture: all\nMaintainer: T <t@example.test>\n"
                                        "Description: test\n");
        const auto built =
            ProcessRunner::run({UpdatePackage::kDpkgDeb, "--root-owner-group", "--build",
                                root.string(), (served_ / fileName).string()},
                               std::chrono::seconds(60));
        ASSERT_TRUE(built.succeeded()) << built.output;
    }
    UpdateOffer offerOf(const std::string& fileName) const {
        const std::string href = "https://127.0.0.1:" + std::to_string(port_) + "/" + fileName;
        const double kilobytes = static_cast<double>(fs::file_size(served_ / fileName)) / 1024.0;
        return UpdateOffer{href, 2003, kilobytes,
                           ConsoleInetProvider::updateDescription(2003, kilobytes)};
    }

    ScratchDirectory served_{"velmora-update-served"};
    QProcess server_;
    int port_ = 0;
};

TEST_F(PackageInstallTest, OnlyTheOfferedVersionOfThisProgramIsOfferedForInstallation) {
    ASSERT_NO_FATAL_FAILURE(serve("good.deb", "velmora", "2.0.3"));
    ASSERT_NO_FATAL_FAILURE(serve("older.deb", "velmora", "2.0.2"));
    ASSERT_NO_FATAL_FAILURE(serve("other.deb", "not-velmora", "2.0.3"));
    struct Case {
        std::string file;
        Stage stage;
        const char* says;
    };
    for (const Case& c : std::vector<Case>{{"good.deb", Stage::Ready, "ready to install"},
                                           {"older.deb", Stage::Showing, "version 2.0.2"},
                                           {"other.deb", Stage::Showing, "not Velmora's"}}) {
        window_->setLink(offerOf(c.file));
        ASSERT_TRUE(waitWhileDownloading()) << c.file;
        EXPECT_EQ(window_->stage(), c.stage)
            << c.file << " " << window_->lStatus.text().toStdString();
        EXPECT_TRUE(window_->lStatus.text().contains(QLatin1String(c.says)))
            << window_->lStatus.text().toStdString();
        EXPECT_EQ(window_->btnInstall.isVisible(), c.stage == Stage::Ready);
        EXPECT_EQ(window_->btnShowFile.isVisible(), c.stage == Stage::Showing);
    }
}

TEST_F(PackageInstallTest, WithoutThePrivilegedRunnerTheWindowSaysSoAndShowsTheFile) {
    ASSERT_NO_FATAL_FAILURE(serve("good.deb", "velmora", "2.0.3"));
    window_->setPkexecPath((served_ / "no-pkexec-here").string());
    window_->setLink(offerOf("good.deb"));
    ASSERT_TRUE(waitWhileDownloading());
    ASSERT_EQ(window_->stage(), Stage::Ready);
    QTest::mouseClick(&window_->btnInstall, Qt::LeftButton);
    EXPECT_EQ(window_->stage(), Stage::Showing);
    EXPECT_TRUE(window_->lStatus.text().contains(QStringLiteral("cannot be installed here")));
    EXPECT_TRUE(
        window_->lStatus.text().contains(QString::fromStdString(window_->target()->string())));
    EXPECT_TRUE(window_->btnShowFile.isVisible());
    // The file is still there for the user.
    EXPECT_TRUE(fs::is_regular_file(*window_->target()));
}

}  // namespace
}  // namespace velmora::console
