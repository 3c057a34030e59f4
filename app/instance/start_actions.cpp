#include "app/instance/start_actions.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocalSocket>
#include <QThread>
#include <cstdio>

#include "app/desktop/desktop_integration.h"
#include "app/instance/extra_win.h"
#include "app/start/hand_over_message.h"
#include "base/settings_file.h"
#include "base/settings_store.h"
#include "engine/text.h"
#include "popup/instance_channel.h"
#include "ui/qt/batch_rename_dialog.h"
#include "ui/qt/main_window_entry.h"
#include "ui/qt/program_icon.h"
#include "update/update_checker.h"

namespace morix::start {
namespace {

constexpr int kConnectMs = 1000;
// The renamer answers once the path is in its list and sorted, which takes a
// while for a large folder; a renamer that stays silent longer is given up.
constexpr int kAnswerMs = 60000;

QString SocketPath(const std::string& runtimeFolder) {
    return QFile::decodeName(HandOverSocketPath(runtimeFolder).c_str());
}

bool Send(QLocalSocket& socket, const std::string& message) {
    socket.write(message.data(), static_cast<qint64>(message.size()));
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(kAnswerMs)) return false;
    }
    return true;
}

// Sends message and waits for the renamer's result.
bool Exchange(QLocalSocket& socket, const std::string& message) {
    if (!Send(socket, message)) return false;
    QByteArray answer;
    while (answer.size() < static_cast<qsizetype>(kResultBytes)) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(kAnswerMs)) return false;
        answer += socket.read(static_cast<qint64>(kResultBytes) - answer.size());
    }
    return true;  // whether the path was taken is the renamer's affair
}

// False when the connection broke; paths keeps what was not delivered.
bool Deliver(QLocalSocket& socket, std::vector<cli::Source>& paths) {
    while (!paths.empty()) {
        const std::string message = EncodePath(paths.front().path, paths.front().isFolder);
        if (message.size() > kHeaderBytes + kMaxDataBytes) {
            // The renamer would cut the connection; no file has such a path.
            std::fprintf(stderr, "morix: path too long to hand over: %s\n",
                         EncodeFileName(paths.front().path).c_str());
        } else if (!Exchange(socket, message)) {
            return false;
        }
        paths.erase(paths.begin());
    }
    return Exchange(socket, EncodeMessage({MessageKind::kComeToFront, 0, {}}));
}

int RunWindow(const std::vector<cli::Source>& paths, const InstanceLock& lock,
              const std::optional<std::string>& runtimeFolder, char* programName) {
    std::vector<ui::StartPath> startPaths;
    for (const cli::Source& source : paths)
        startPaths.push_back({source.path, source.isFolder});
    // Qt reads no options of its own from the program's command line: a path
    // such as "-reverse" after "--" is a path. The window's instance name is
    // the desktop entry's, which ties the window to the entry under X11.
    char nameOption[] = "-name";
    std::string instanceName = ui::kDesktopEntryName;
    int qtArgc = 3;
    char* qtArgv[] = {programName, nameOption, instanceName.data(), nullptr};
    if (!lock.Held() || !runtimeFolder) return ui::RunMainWindow(qtArgc, qtArgv, startPaths);
    // Only the holder of the instance lock takes hand-overs.
    const QString socket = SocketPath(*runtimeFolder);
    const auto receive = [&socket](ui::CBatchRenameDlg& window) -> std::unique_ptr<QObject> {
        auto extraWin = std::make_unique<CExtraWin>(&window, &window);
        if (!extraWin->Listen(socket)) {
            std::fprintf(stderr, "morix: cannot take paths from other starts: %s\n",
                         qPrintable(extraWin->ErrorText()));
        }
        return extraWin;
    };
    return ui::RunMainWindow(qtArgc, qtArgv, startPaths, receive);
}

}  // namespace

HandOverOutcome HandOverPaths(const std::string& runtimeFolder, std::vector<cli::Source>& paths,
                              InstanceLock& lock, int attempts, int intervalMs) {
    const QString socketPath = SocketPath(runtimeFolder);
    for (int attempt = 0; attempt <= attempts; ++attempt) {
        if (attempt > 0) QThread::msleep(static_cast<unsigned long>(intervalMs));
        QLocalSocket socket;
        socket.connectToServer(socketPath);
        if (socket.waitForConnected(kConnectMs) && Deliver(socket, paths)) {
            return HandOverOutcome::kDelivered;
        }
        // The renamer that held the lock may have ended (or was still
        // starting, or is closing): once the lock is free, this start is the
        // renamer, and no path is lost.
        if (lock.TryAcquire(InstanceLockPath(runtimeFolder)) == InstanceLock::Result::kAcquired) {
            return HandOverOutcome::kBecameFirst;
        }
    }
    return HandOverOutcome::kNoReceiver;
}

void CloseRunningInstances(const std::string& runtimeFolder) {
    {
        QLocalSocket socket;
        socket.connectToServer(SocketPath(runtimeFolder));
        if (socket.waitForConnected(kConnectMs)) {
            Send(socket, EncodeMessage({MessageKind::kClose, 0, {}}));
            socket.disconnectFromServer();
        }
    }
    tosk::RequestPopupClose(QFile::decodeName(runtimeFolder.c_str()));
}

int CarryOut(StartPlan plan, InstanceLock& lock, const std::optional<std::string>& runtimeFolder,
             char* programName) {
    // The maintenance commands and the hand-over need an application object
    // for the local sockets, but no window.
    int qtArgc = 1;
    char* qtArgv[] = {programName, nullptr};

    if (auto* install = std::get_if<InstallCommand>(&plan)) {
        if (install->resetUpdateCheck) {
            SettingsStore settings(
                std::make_unique<FileSettingsBackend>(DefaultSettingsFilePath()));
            settings.DeleteSetting(kSettingUpdateCheckTime);
        }
        SendInstallPing(install->type, install->extra);  // the service may be unreachable
        if (!RegisterContextMenu()) {
            std::fputs("morix: could not register with the desktop\n", stderr);
            return 1;
        }
        return 0;
    }
    if (std::holds_alternative<UninstallCommand>(plan) ||
        std::holds_alternative<ExitCommand>(plan)) {
        if (runtimeFolder) {
            QCoreApplication app(qtArgc, qtArgv);
            CloseRunningInstances(*runtimeFolder);
        }
        // Nothing to remove is no failure: the entries are gone either way.
        if (std::holds_alternative<UninstallCommand>(plan) &&
            UnregisterContextMenu() == Removal::kFailed) {
            std::fputs("morix: could not remove the desktop registration\n", stderr);
            return 1;
        }
        return 0;
    }
    if (std::holds_alternative<VersionCommand>(plan)) {
        std::printf("morix (Trelvo Renamer) %s\n", EncodeFileName(kProgramVersion).c_str());
        return 0;
    }
    if (auto* handOver = std::get_if<HandOver>(&plan)) {
        if (!runtimeFolder) return RunWindow(handOver->paths, lock, runtimeFolder, programName);
        HandOverOutcome outcome;
        {
            QCoreApplication app(qtArgc, qtArgv);
            outcome = HandOverPaths(*runtimeFolder, handOver->paths, lock);
        }
        if (outcome == HandOverOutcome::kDelivered) return 0;
        if (outcome == HandOverOutcome::kNoReceiver) {
            std::fprintf(stderr,
                         "morix: the running renamer did not answer; %zu path(s) not added\n",
                         handOver->paths.size());
            return 1;
        }
        return RunWindow(handOver->paths, lock, runtimeFolder, programName);
    }
    if (auto* normal = std::get_if<NormalRun>(&plan)) {
        return RunWindow(normal->paths, lock, runtimeFolder, programName);
    }
    return 2;  // errors and headless modes are not carried out here
}

}  // namespace morix::start
