#include "popup/instance_channel.h"

#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#include "base/runtime_folder.h"

namespace tosk {
namespace {

constexpr int kMaxRequestBytes = 64;
constexpr int kRequestTimeoutMs = 2000;

}  // namespace

std::optional<QString> PrivateRuntimeFolder() {
    const std::optional<std::string> folder = morix::PrivateRuntimeFolder();
    if (!folder) return std::nullopt;
    return QString::fromLocal8Bit(*folder);
}

QString LockFilePath(const QString& folder) {
    return folder + '/' + QLatin1String(kInstanceName) + QLatin1String(".lock");
}

QString CloseSocketPath(const QString& folder) {
    return folder + '/' + QLatin1String(kInstanceName) + QLatin1String(".socket");
}

PopupInstance::PopupInstance(QString folder) : folder_(std::move(folder)) {
    connect(&server_, &QLocalServer::newConnection, this, &PopupInstance::Accept);
}

PopupInstance::~PopupInstance() {
    server_.close();
}

bool PopupInstance::Acquire() {
    auto lock = std::make_unique<QLockFile>(LockFilePath(folder_));
    // Only a dead owner makes the lock stale: a popup may stay for hours.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) return false;
    lock_ = std::move(lock);
    return true;
}

bool PopupInstance::Listen() {
    if (!lock_) return false;
    const QString path = CloseSocketPath(folder_);
    // The lock is ours, so a socket file left there belongs to a popup that died.
    QLocalServer::removeServer(path);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    return server_.listen(path);
}

void PopupInstance::Accept() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(kRequestTimeoutMs, socket, [socket] { socket->abort(); });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > kMaxRequestBytes) socket->abort();
                return;
            }
            const QByteArray line = socket->readLine(kMaxRequestBytes + 1);
            if (line != "close\n") {
                socket->abort();
                return;
            }
            socket->write("ok\n");
            socket->flush();
            socket->disconnectFromServer();
            emit closeRequested();
        });
    }
}

CloseOutcome RequestPopupClose(const QString& folder, int attempts, int intervalMs) {
    const auto popupRuns = [&folder] {
        QLockFile probe(LockFilePath(folder));
        probe.setStaleLockTime(0);
        if (probe.tryLock(0)) {
            probe.unlock();
            return false;
        }
        return probe.error() == QLockFile::LockFailedError;
    };
    if (!popupRuns()) return CloseOutcome::kNoPopup;

    bool answered = false;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (!answered) {
            QLocalSocket socket;
            socket.connectToServer(CloseSocketPath(folder));
            if (socket.waitForConnected(intervalMs)) {
                socket.write("close\n");
                socket.waitForBytesWritten(kRequestTimeoutMs);
                while (!socket.canReadLine() && socket.waitForReadyRead(kRequestTimeoutMs)) {
                }
                answered = socket.readLine(kMaxRequestBytes) == "ok\n";
            }
        }
        if (!popupRuns()) return CloseOutcome::kClosed;
        QThread::msleep(static_cast<unsigned long>(intervalMs));
    }
    return CloseOutcome::kNoAnswer;
}

}  // namespace tosk
