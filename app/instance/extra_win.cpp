#include "app/instance/extra_win.h"

#include <QLocalSocket>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "app/start/hand_over_message.h"
#include "app/start/instance_lock.h"
#include "ui/logic/extra_win_receiver.h"

namespace morix::start {

CExtraWin::CExtraWin(ui::CExtraWinReceiver* receiver, QWidget* owner, QObject* parent)
    : QObject(parent), receiver_(receiver), owner_(owner) {
    connect(&server_, &QLocalServer::newConnection, this, &CExtraWin::Accept);
}

CExtraWin::~CExtraWin() {
    server_.close();
}

bool CExtraWin::Listen(const QString& socketPath) {
    QLocalServer::removeServer(socketPath);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    return server_.listen(socketPath);
}

void CExtraWin::Accept() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!PeerIsSameUser(static_cast<int>(socket->socketDescriptor()))) {
            socket->abort();
            continue;
        }
        // A peer that stays silent, or stops in the middle of a message, is
        // dropped after a while; the window never waits for it.
        auto* idle = new QTimer(socket);
        idle->setSingleShot(true);
        connect(idle, &QTimer::timeout, socket, [socket, idle] {
            if (socket->bytesAvailable() > 0) {
                idle->start();  // the window was busy; read first
                return;
            }
            socket->abort();
        });
        idle->start(idleMs_);

        auto reader = std::make_shared<MessageReader>();
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, idle, reader] {
            const QByteArray bytes = socket->readAll();
            if (!reader->Feed(std::string_view(bytes.constData(), bytes.size()))) {
                socket->abort();
                return;
            }
            while (std::optional<Message> message = reader->Next()) {
                idle->start();
                switch (message->kind) {
                    case MessageKind::kCopyData: {
                        const std::optional<HandedPath> handed =
                            AcceptCopyData(message->tag, message->data);
                        if (handed) receiver_->OnAddPath(handed->path, handed->isFolder);
                        const std::string result = EncodeResult(handed.has_value());
                        socket->write(result.data(), static_cast<qint64>(result.size()));
                        break;
                    }
                    case MessageKind::kComeToFront: {
                        ComeToFront();
                        const std::string result = EncodeResult(true);
                        socket->write(result.data(), static_cast<qint64>(result.size()));
                        break;
                    }
                    case MessageKind::kClose:
                        receiver_->OnCloseRequest();
                        break;
                }
            }
        });
    }
}

void CExtraWin::ComeToFront() {
    if (owner_ == nullptr) return;
    owner_->setWindowState(owner_->windowState() & ~Qt::WindowMinimized);
    owner_->show();
    owner_->raise();
    owner_->activateWindow();
}

}  // namespace morix::start
