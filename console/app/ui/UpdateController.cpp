#include "console/app/ui/UpdateController.h"

#include <unistd.h>

#include <QCloseEvent>
#include <QDesktopServices>
#include <QNetworkRequest>
#include <QUrl>

#include <algorithm>

#include "console/app/ui/PlainText.h"
#include "console/app/ui/Translation.h"
#include "console/remote/UpdatePackage.h"
#include "core/Deployment.h"
#include "platform/FileIo.h"

namespace velmora::console {

namespace {

constexpr int kTransferTimeoutMs = 60'000;
constexpr int kMaxRedirects = 5;
constexpr qint64 kReadChunk = 64 * 1024;

}  // namespace

UpdateController::UpdateController(const Translation& translation, QWidget* parent)
    : QDialog(parent),
      translation_(translation),
      logger_(std::string(deployment::kLogSubsystem), "update"),
      downloadParent_(std::filesystem::temp_directory_path()),
      dpkgDeb_(UpdatePackage::kDpkgDeb) {
    setObjectName(QStringLiteral("Updater"));
    usePlainText({&lStatus});
    lStatus.setWordWrap(true);
    progressBar.setRange(0, 100);
    layout.addWidget(&lStatus, 0, 0, 1, 4);
    layout.addWidget(&progressBar, 1, 0, 1, 4);
    layout.setColumnStretch(0, 1);
    layout.addWidget(&btnShowFile, 2, 1);
    layout.addWidget(&btnInstall, 2, 2);
    layout.addWidget(&btnCancel, 2, 3);
    setLayout(&layout);
    setWindowTitle(text("Caption", "Update"));
    btnInstall.setText(text("Install", "Install"));
    btnShowFile.setText(text("ShowFile", "Show File"));
    btnCancel.setText(translation_.qtext("Common", "Cancel", "Cancel"));
    btnInstall.setVisible(false);
    btnShowFile.setVisible(false);
    connect(&btnInstall, &QPushButton::clicked, this, &UpdateController::btnInstall_Clicked);
    connect(&btnShowFile, &QPushButton::clicked, this, &UpdateController::btnShowFile_Clicked);
    connect(&btnCancel, &QPushButton::clicked, this, &QDialog::close);
    resize(420, 140);
}

UpdateController::~UpdateController() {
    cancelDownload();
}

QString UpdateController::text(const char* key, const char* deflt) const {
    return translation_.qtext("UpdateDlg", key, deflt);
}

void UpdateController::setLink(const UpdateOffer& offer) {
    cancelDownload();
    offer_ = offer;
    downloadBuild();
}

void UpdateController::setStage(Stage stage, const QString& status) {
    stage_ = stage;
    lStatus.setText(status);
    btnInstall.setVisible(stage == Stage::Ready);
    btnShowFile.setVisible(stage == Stage::Showing && target_.has_value());
}

void UpdateController::downloadBuild() {
    progressBar.setValue(0);
    bytesReceived_ = 0;
    target_.reset();
    if (!UpdatePackage::isAllowedAddress(offer_.href)) {
        logger_.error("download error: {}", "the package address is not https");
        setStage(Stage::Failed, text("NotSecure",
                                     "The update is not offered over a secure "
                                     "connection, so it is not downloaded."));
        return;
    }
    std::string error;
    const auto folder = UpdatePackage::makeDownloadFolder(downloadParent_, error);
    if (!folder) {
        logger_.error("download error: {}", error);
        setStage(Stage::Failed, QString::fromStdString(error));
        return;
    }
    target_ = UpdatePackage::targetIn(*folder);
    file_ = UniqueFd(createReplacingFile(target_->c_str(), 0600));
    if (!file_) {
        logger_.error("download error: cannot create {}", target_->string());
        setStage(Stage::Failed, text("CannotSave", "The update cannot be saved."));
        return;
    }
    maximumBytes_ = UpdatePackage::maximumBytes(offer_.kilobytes);

    QNetworkRequest request(QUrl(QString::fromStdString(offer_.href), QUrl::StrictMode));
    request.setTransferTimeout(kTransferTimeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    request.setSslConfiguration(ssl_);
    reply_.reset(network_.get(request));
    reply_->setReadBufferSize(kReadChunk);
    connect(reply_.get(), &QNetworkReply::readyRead, this, &UpdateController::downloadReadyRead);
    connect(reply_.get(), &QNetworkReply::downloadProgress, this,
            &UpdateController::downloadProgress);
    connect(reply_.get(), &QNetworkReply::finished, this, &UpdateController::downloadFinished);
    connect(reply_.get(), &QNetworkReply::redirected, this, [this](const QUrl& url) {
        if (url.scheme() != QLatin1String("https"))
            failDownload(QStringLiteral("redirected away from https"));
    });
    setStage(Stage::Downloading,
             Translation::format(text("Downloading", "Downloading version %@..."),
                                 {QString::fromStdString(offer_.description)}));
}

void UpdateController::downloadReadyRead() {
    if (!reply_)
        return;
    while (reply_ && reply_->bytesAvailable() > 0) {
        const QByteArray block = reply_->read(kReadChunk);
        if (block.isEmpty())
            return;
        const auto length = static_cast<std::uint64_t>(block.size());
        if (length > maximumBytes_ - bytesReceived_) {
            failDownload(QStringLiteral("the package is larger than announced"));
            return;
        }
        if (!writeFully(file_.get(), block.constData(), block.size())) {
            failDownload(QStringLiteral("cannot write the package"));
            return;
        }
        bytesReceived_ += length;
    }
}

void UpdateController::downloadProgress(qint64, qint64 total) {
    if (total > 0 && static_cast<std::uint64_t>(total) > maximumBytes_) {
        failDownload(QStringLiteral("the package is larger than announced"));
        return;
    }
    // Only the announced length counts; an unknown one leaves the bar where it is.
    if (const auto percent = UpdatePackage::progressPercent(bytesReceived_, total))
        progressBar.setValue(*percent);
}

void UpdateController::downloadFinished() {
    if (!reply_)
        return;
    downloadReadyRead();
    if (!reply_)
        return;
    if (reply_->error() != QNetworkReply::NoError) {
        failDownload(reply_->errorString());
        return;
    }
    const int status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status != 200) {
        failDownload(QStringLiteral("HTTP status %1").arg(status));
        return;
    }
    reply_.reset();
    if (!file_.close()) {
        failDownload(QStringLiteral("cannot write the package"));
        return;
    }
    packageDownloaded();
}

void UpdateController::failDownload(const QString& reason) {
    logger_.error("download error: {}", reason.toStdString());
    if (reply_) {
        reply_->disconnect(this);
        reply_->abort();
        reply_.reset();
    }
    discardDownload();
    setStage(Stage::Failed,
             Translation::format(text("DownloadFailed", "Download failed: %@"), {reason}));
}

void UpdateController::packageDownloaded() {
    std::string error;
    if (!UpdatePackage::verify(*target_, offer_.version, error, dpkgDeb_)) {
        logger_.error("Not installed: {}", error);
        setStage(Stage::Showing, Translation::format(text("CannotInstall",
                                                          "%@. It is not installed; the file "
                                                          "is kept at %@."),
                                                     {QString::fromStdString(error),
                                                      QString::fromStdString(target_->string())}));
        return;
    }
    setStage(Stage::Ready, Translation::format(text("Ready", "Version %@ is ready to install."),
                                               {QString::fromStdString(offer_.description)}));
}

void UpdateController::btnInstall_Clicked() {
    if (stage_ != Stage::Ready || !target_)
        return;
    std::vector<std::string> arguments = UpdatePackage::installArguments(*target_);
    std::string program = arguments.front();
    arguments.erase(arguments.begin());
    installer_ = std::make_unique<PrivilegedTask>(std::move(program), std::move(arguments),
                                                  target_->parent_path());
    installer_->setPkexecPath(pkexecPath_);
    installer_->setRunLoop(&installerLoop_);
    installer_->setTerminationHandler([this](PrivilegedTask& task) { installerEnded(task); });
    if (installer_->launch() != PrivilegedTask::kSuccess) {
        logger_.error("Something went wrong");
        setStage(Stage::Showing, Translation::format(text("NoInstaller",
                                                          "The package cannot be installed here; "
                                                          "the file is kept at %@."),
                                                     {QString::fromStdString(target_->string())}));
        return;
    }
    logger_.notice("Task successfully launched");
    setStage(Stage::Installing, text("Installing", "Installing..."));
}

void UpdateController::installerEnded(PrivilegedTask& task) {
    const int status = task.authorizationStatus();
    if (status == PrivilegedTask::kSuccess) {
        setStage(Stage::Installed, text("Installed",
                                        "The update is installed. It takes effect "
                                        "when the console starts again."));
        return;
    }
    if (status == PrivilegedTask::kCancelled) {
        logger_.notice("User cancelled");
        setStage(Stage::Ready, text("InstallCancelled", "Installation cancelled."));
        return;
    }
    logger_.error("Something went wrong");
    setStage(Stage::Showing, Translation::format(text("InstallFailed",
                                                      "The installation failed; the file is "
                                                      "kept at %@."),
                                                 {QString::fromStdString(target_->string())}));
}

void UpdateController::btnShowFile_Clicked() {
    if (target_)
        QDesktopServices::openUrl(
            QUrl::fromLocalFile(QString::fromStdString(target_->parent_path().string())));
}

void UpdateController::cancelDownload() {
    if (reply_) {
        reply_->disconnect(this);
        reply_->abort();
        reply_.reset();
        logger_.notice("Download cancelled");
        discardDownload();
    }
    file_.reset();
    if (stage_ == Stage::Downloading)
        stage_ = Stage::Idle;
}

void UpdateController::discardDownload() {
    file_.reset();
    if (!target_)
        return;
    // The folder is private to this user, so its names cannot be swapped under these calls.
    ::unlink(target_->c_str());
    ::rmdir(target_->parent_path().c_str());
    target_.reset();
}

void UpdateController::closeEvent(QCloseEvent* event) {
    cancelDownload();
    event->accept();
}

}  // namespace velmora::console
