#include "console/app/controller/SingleInstance.h"

#include <sys/stat.h>

#include <QLocalServer>
#include <QLocalSocket>

#include <string>

#include "core/Deployment.h"

namespace velmora::console {

namespace fs = std::filesystem;

namespace {

constexpr int kConnectTimeoutMs = 2000;
constexpr const char* kRaiseRequest = "raise\n";

}  // namespace

SingleInstance::SingleInstance(fs::path runtimeDir, uid_t uid)
    : runtimeDir_(std::move(runtimeDir)),
      uid_(uid),
      logger_(std::string(deployment::kLogSubsystem), "main") {}

SingleInstance::~SingleInstance() = default;

fs::path SingleInstance::socketPath() const {
    return runtimeDir_ / ("velmora-" + std::to_string(uid_) + ".socket");
}

bool SingleInstance::isPrivateFolder(const fs::path& folder, uid_t uid) {
    struct stat info {};
    return ::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == uid &&
           (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::optional<fs::path> SingleInstance::defaultRuntimeDir(uid_t uid) {
    const fs::path session = "/run/user/" + std::to_string(uid);
    if (isPrivateFolder(session, uid))
        return session;
    const fs::path fallback = "/tmp/velmora-" + std::to_string(uid);
    ::mkdir(fallback.c_str(), 0700);
    if (isPrivateFolder(fallback, uid))
        return fallback;
    return std::nullopt;
}

bool SingleInstance::askRunningInstance() const {
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(socketPath().string()));
    if (!socket.waitForConnected(kConnectTimeoutMs))
        return false;
    socket.write(kRaiseRequest);
    socket.waitForBytesWritten(kConnectTimeoutMs);
    socket.disconnectFromServer();
    return true;
}

SingleInstance::Role SingleInstance::claim() {
    if (!isPrivateFolder(runtimeDir_, uid_)) {
        logger_.error("No private runtime folder at {}: a second console is not prevented",
                      runtimeDir_.string());
        return Role::Unguarded;
    }
    if (askRunningInstance())
        return Role::Second;
    // Nobody answers: what is left is the socket of a console that ended without removing it.
    const QString path = QString::fromStdString(socketPath().string());
    QLocalServer::removeServer(path);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(path)) {
        logger_.error("Cannot listen at {}: {}", socketPath().string(),
                      server_->errorString().toStdString());
        server_.reset();
        return Role::Unguarded;
    }
    QObject::connect(server_.get(), &QLocalServer::newConnection, [this] {
        while (QLocalSocket* connection = server_->nextPendingConnection()) {
            QObject::connect(connection, &QLocalSocket::disconnected, connection,
                             &QObject::deleteLater);
            connection->disconnectFromServer();
            if (raise_)
                raise_();
        }
    });
    return Role::First;
}

}  // namespace velmora::console
