#include "app/SingleCopy.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

namespace korvo {

namespace {

constexpr char kRaiseRequest[] = "raise\n";
constexpr int kWaitMilliseconds = 2000;

}  // namespace

CSingleCopy::CSingleCopy(const QString& name, const QString& lockPath)
    : name_(name), lock_(lockPath) {
    // The lock lasts as long as its process: only a crashed copy's lock counts as stale.
    lock_.setStaleLockTime(0);
}

CSingleCopy::~CSingleCopy() = default;

QString CSingleCopy::defaultName() {
    return QCoreApplication::applicationName() + "-" + QString::number(::getuid());
}

QString CSingleCopy::defaultLockPath() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        folder = QDir::tempPath();
    }
    return QDir(folder).filePath(defaultName() + ".lock");
}

bool CSingleCopy::acquire() {
    if (!lock_.tryLock(0)) {
        return false;
    }
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(name_);  // a socket left behind by a crashed copy
    if (!server_->listen(name_)) {
        return true;  // still the only copy; just not reachable for raise requests
    }
    connect(server_.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (socket->readAll().contains("raise")) {
                    emit raiseRequested();
                }
            });
        }
    });
    return true;
}

bool CSingleCopy::askFirstToRaise() {
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(kWaitMilliseconds)) {
        return false;
    }
    socket.write(kRaiseRequest);
    const bool sent = socket.waitForBytesWritten(kWaitMilliseconds);
    socket.disconnectFromServer();
    return sent;
}

}  // namespace korvo
