#pragma once

#include <QDialog>
#include <QGridLayout>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProgressBar>
#include <QPushButton>
#include <QSslConfiguration>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "console/app/ui/DeleteLater.h"
#include "console/remote/PrivilegedTask.h"
#include "console/service/UpdateOffer.h"
#include "platform/Logger.h"
#include "platform/QtRunLoop.h"
#include "platform/UniqueFd.h"

namespace velmora::console {

class Translation;

// The update window: downloads the offered package over TLS into a folder of its own, checks
// that it is this program's package in the offered version, and installs it with
// administrator rights when the user clicks Install. Where it cannot install, it says so and
// shows where the file is.
class UpdateController : public QDialog {
    Q_OBJECT

  public:
    enum class Stage { Idle, Downloading, Failed, Ready, Installing, Installed, Showing };

    UpdateController(const Translation& translation, QWidget* parent = nullptr);
    ~UpdateController() override;

    // Starts the download of `offer` (a running one is cancelled first).
    void setLink(const UpdateOffer& offer);
    const std::string& link() const { return offer_.href; }

    // Where downloads go: a new private folder is made below it for each one.
    void setDownloadParent(std::filesystem::path parent) { downloadParent_ = std::move(parent); }
    // The certificates trusted for the download; the system's by default.
    void setSslConfiguration(const QSslConfiguration& configuration) { ssl_ = configuration; }
    void setPkexecPath(std::string path) { pkexecPath_ = std::move(path); }
    void setDpkgDebPath(std::string path) { dpkgDeb_ = std::move(path); }

    Stage stage() const { return stage_; }
    std::uint64_t bytesReceived() const { return bytesReceived_; }
    // The downloaded file, once there is one.
    const std::optional<std::filesystem::path>& target() const { return target_; }

    QGridLayout layout;
    QLabel lStatus;
    QProgressBar progressBar;
    QPushButton btnInstall;
    QPushButton btnShowFile;
    QPushButton btnCancel;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void downloadBuild();
    void downloadReadyRead();
    void downloadProgress(qint64 received, qint64 total);
    void downloadFinished();
    void failDownload(const QString& reason);
    void packageDownloaded();
    void btnInstall_Clicked();
    void installerEnded(PrivilegedTask& task);
    void btnShowFile_Clicked();
    void cancelDownload();
    // Removes an unfinished package and its folder.
    void discardDownload();
    void setStage(Stage stage, const QString& status);
    QString text(const char* key, const char* deflt) const;

    const Translation& translation_;
    Logger logger_;
    UpdateOffer offer_;
    Stage stage_ = Stage::Idle;
    std::filesystem::path downloadParent_;
    std::optional<std::filesystem::path> target_;
    QSslConfiguration ssl_ = QSslConfiguration::defaultConfiguration();
    std::string pkexecPath_ = PrivilegedTask::kDefaultPkexecPath;
    std::string dpkgDeb_;
    QNetworkAccessManager network_;
    LaterPtr<QNetworkReply> reply_;
    UniqueFd file_;
    std::uint64_t bytesReceived_ = 0;
    std::uint64_t maximumBytes_ = 0;
    std::unique_ptr<PrivilegedTask> installer_;
    QtRunLoop installerLoop_;
};

}  // namespace velmora::console
