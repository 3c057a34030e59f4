// One popup per user at a time, and the way other programs ask it to close.
//
// Both live in the user's private runtime folder, the one the renamer uses
// too (base/runtime_folder.h):
//   <folder>/Tosk-{FEF6EC13-C1D2-4F62-9AFC-319E075BF2E7}.lock   held while a popup runs
//   <folder>/Tosk-{FEF6EC13-C1D2-4F62-9AFC-319E075BF2E7}.socket close requests
// A close request is the line "close\n" on the socket; the popup answers
// "ok\n" and then closes its window, which ends the program.
#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

namespace tosk {

inline constexpr char kInstanceName[] = "Tosk-{FEF6EC13-C1D2-4F62-9AFC-319E075BF2E7}";

// The runtime folder, or none when no private one can be found or made.
std::optional<QString> PrivateRuntimeFolder();
QString LockFilePath(const QString& folder);
QString CloseSocketPath(const QString& folder);

class PopupInstance : public QObject {
    Q_OBJECT
  public:
    explicit PopupInstance(QString folder);
    ~PopupInstance() override;

    // Takes the per-user lock; false while another popup holds it.
    bool Acquire();
    // Starts taking close requests; needs the lock and a running Qt application.
    bool Listen();

  signals:
    // A close request arrived and has been answered.
    void closeRequested();

  private:
    void Accept();

    QString folder_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer server_;
};

enum class CloseOutcome {
    kNoPopup,   // no popup held the lock
    kClosed,    // the popup answered and its process has ended
    kNoAnswer,  // a popup holds the lock but did not answer or did not end in time
};

// What morix --exit and --uninstall do: ask the running popup to close and
// wait for it to end, trying every interval for up to attempts times.
CloseOutcome RequestPopupClose(const QString& folder, int attempts = 100, int intervalMs = 100);

}  // namespace tosk
