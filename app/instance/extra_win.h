// The running renamer's end of the hand-over: a local socket on which later
// starts of the program deliver paths, close requests and requests to come
// to the front (the message format is in app/start/hand_over_message.h).
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

namespace morix::ui {
class CExtraWinReceiver;
}

namespace morix::start {

class CExtraWin : public QObject {
    Q_OBJECT

  public:
    // receiver gets the paths and close requests; owner is the window that
    // comes to the front. Neither is owned.
    CExtraWin(ui::CExtraWinReceiver* receiver, QWidget* owner, QObject* parent = nullptr);
    ~CExtraWin() override;

    // Starts taking messages on socketPath. The caller holds the instance
    // lock, so a socket file found there was left by a renamer that ended.
    bool Listen(const QString& socketPath);
    QString ErrorText() const { return server_.errorString(); }

    // How long a connection may stay open without completing a message.
    void SetIdleTimeout(int milliseconds) { idleMs_ = milliseconds; }

  private:
    void Accept();
    void ComeToFront();

    ui::CExtraWinReceiver* receiver_;
    QWidget* owner_;
    QLocalServer server_;
    int idleMs_ = 10000;
};

}  // namespace morix::start
