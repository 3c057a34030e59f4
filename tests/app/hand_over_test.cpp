// Later starts of the program hand their paths to the running renamer: the
// real morix program as sender (and as the running renamer where the test
// only watches from outside), real sockets in a private runtime folder, on a
// private X server.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QDir>
#include <QLocalSocket>
#include <QProcess>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/instance/extra_win.h"
#include "app/start/hand_over_message.h"
#include "app/start/instance_lock.h"
#include "engine/text.h"
#include "popup/instance_channel.h"
#include "popup/popup_test_support.h"
#include "support/temp_dir.h"
#include "ui/logic/extra_win_receiver.h"
#include "ui/qt/batch_rename_dialog.h"

namespace morix::start {
namespace {

using testing::TempDir;

// Keeps the event loop running (sockets, child processes) until done() or
// the time is up.
bool WaitUntil(const std::function<bool()>& done, int milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

// Remembers every request in order, and passes it on when given a window.
struct RecordingReceiver : ui::CExtraWinReceiver {
    struct Path {
        std::u16string path;
        bool isFolder;
        bool operator==(const Path&) const = default;
    };
    std::vector<Path> paths;
    int closeRequests = 0;
    ui::CExtraWinReceiver* forward = nullptr;

    void OnCloseRequest() override {
        ++closeRequests;
        if (forward != nullptr) forward->OnCloseRequest();
    }
    void OnAddPath(const std::u16string& path, bool isFolder) override {
        paths.push_back({path, isFolder});
        if (forward != nullptr) forward->OnAddPath(path, isFolder);
    }
};

std::string Copy(std::uint64_t tag, std::u16string_view units) {
    Message message{MessageKind::kCopyData, tag, std::string(units.size() * 2, '\0')};
    std::memcpy(message.data.data(), units.data(), message.data.size());
    return EncodeMessage(message);
}

class HandOverTest : public ::testing::Test {
  protected:
    void SetUp() override { ::chmod(runtime_.bytes().c_str(), 0700); }

    void TearDown() override {
        for (auto& process : processes_) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
    }

    QString SocketPath() const {
        return QString::fromStdString(HandOverSocketPath(runtime_.bytes()));
    }

    // Starts morix with this test's runtime and settings folders.
    QProcess* Start(const QStringList& arguments, const QString& workDir = {}) {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime_.bytes()));
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(config_.bytes()));
        env.insert("TRELVO_VERSION_SERVICE", "http://127.0.0.1:9");
        // The sanitizer build checks the real program's windows for leaks
        // too; the session bus library that Qt loads on X keeps memory of
        // its own.
        env.insert("LSAN_OPTIONS", "suppressions=" MORIX_LSAN_SUPPRESSIONS);
        process->setProcessEnvironment(env);
        if (!workDir.isEmpty()) process->setWorkingDirectory(workDir);
        process->start(MORIX_BINARY, arguments);
        processes_.push_back(std::move(process));
        return processes_.back().get();
    }

    static bool Ended(QProcess* process, int milliseconds) {
        return WaitUntil([process] { return process->state() == QProcess::NotRunning; },
                         milliseconds);
    }

    // A renamer of the program's own, once it takes hand-overs.
    QProcess* StartRenamer(const QStringList& arguments) {
        QProcess* renamer = Start(arguments);
        const bool listening = WaitUntil(
            [this] {
                QLocalSocket probe;
                probe.connectToServer(SocketPath());
                return probe.waitForConnected(100);
            },
            30000);
        EXPECT_TRUE(listening) << renamer->readAllStandardError().toStdString();
        return renamer;
    }

    TempDir runtime_;
    TempDir config_;
    TempDir files_;
    std::vector<std::unique_ptr<QProcess>> processes_;
};

TEST_F(HandOverTest, SecondStartHandsItsPathsOverInOrderAndEnds) {
    InstanceLock lock;
    ASSERT_EQ(lock.TryAcquire(InstanceLockPath(runtime_.bytes())), InstanceLock::Result::kAcquired);
    QWidget window;
    window.show();
    RecordingReceiver receiver;
    CExtraWin extraWin(&receiver, &window);
    ASSERT_TRUE(extraWin.Listen(SocketPath()));

    // Relative paths are the sender's: they arrive made absolute. A path too
    // long for any file is left out, and the others still arrive.
    const QString tooLong = "/" + QString(40000, 'x');
    QProcess* second = Start({QString::fromStdString(files_.Path("c.txt")), tooLong, "--dir",
                              QString::fromStdString(files_.Path("F")), "a.txt"},
                             QString::fromStdString(files_.bytes()));
    ASSERT_TRUE(Ended(second, 30000));
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_TRUE(
        second->readAllStandardError().startsWith("morix: path too long to hand over: /xxx"));
    const std::vector<RecordingReceiver::Path> expected{{files_.U16Path("c.txt"), false},
                                                        {files_.U16Path("F"), true},
                                                        {files_.U16Path("a.txt"), false}};
    EXPECT_EQ(receiver.paths, expected);

    // No paths: only the window comes to the front.
    receiver.paths.clear();
    window.showMinimized();
    QProcess* third = Start({});
    ASSERT_TRUE(Ended(third, 30000));
    EXPECT_EQ(third->exitCode(), 0);
    EXPECT_TRUE(receiver.paths.empty());
    EXPECT_TRUE(WaitUntil([&] { return !window.isMinimized(); }, 5000));
}

TEST_F(HandOverTest, FiftyStartsAtOnceDeliverEveryPathOnce) {
    // As a file manager does for 50 selected files, while the renamer is
    // still starting: it takes hand-overs only a moment later.
    InstanceLock lock;
    ASSERT_EQ(lock.TryAcquire(InstanceLockPath(runtime_.bytes())), InstanceLock::Result::kAcquired);
    ui::CBatchRenameDlg dialog(nullptr);
    RecordingReceiver receiver;
    receiver.forward = &dialog;
    CExtraWin extraWin(&receiver, &dialog);
    std::set<std::u16string> expected;
    std::vector<QProcess*> starts;
    for (int i = 0; i < 50; ++i) {
        const std::string name = "file" + std::to_string(i) + ".txt";
        files_.MakeFile(name);
        expected.insert(files_.U16Path(name));
        starts.push_back(Start({QString::fromStdString(files_.Path(name))}));
    }
    QTimer::singleShot(500, [&] {
        dialog.show();
        ASSERT_TRUE(extraWin.Listen(SocketPath()));
    });
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (QProcess* p : starts)
                if (p->state() != QProcess::NotRunning) return false;
            return true;
        },
        120000));
    for (QProcess* p : starts) {
        EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardError().toStdString();
    }
    ASSERT_EQ(receiver.paths.size(), 50u);  // none sent twice
    std::set<std::u16string> arrived;
    for (const RecordingReceiver::Path& p : receiver.paths)
        arrived.insert(p.path);
    EXPECT_EQ(arrived, expected);
    EXPECT_EQ(dialog.PreviewList()->model()->rowCount(), 50);
}

TEST_F(HandOverTest, ExitClosesTheRenamerAndAsksThePopupToClose) {
    files_.MakeFile("a.txt");
    QProcess* renamer = StartRenamer({QString::fromStdString(files_.Path("a.txt"))});

    // A popup of the user's, in the same runtime folder.
    auto popup = std::make_unique<tosk::PopupInstance>(QString::fromStdString(runtime_.bytes()));
    ASSERT_TRUE(popup->Acquire());
    ASSERT_TRUE(popup->Listen());
    bool popupAsked = false;
    QObject::connect(popup.get(), &tosk::PopupInstance::closeRequested, [&] {
        popupAsked = true;
        QTimer::singleShot(100, [&] { popup.reset(); });  // the popup ends
    });

    QProcess* exit = Start({"--exit"});
    ASSERT_TRUE(Ended(exit, 30000));
    EXPECT_EQ(exit->exitCode(), 0);
    EXPECT_TRUE(popupAsked);
    ASSERT_TRUE(Ended(renamer, 30000));
    EXPECT_EQ(renamer->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(renamer->exitCode(), 2);  // the window ended as Quit ends it

    // Nothing runs now: --exit ends at once, and the next start is a renamer.
    QProcess* again = Start({"--exit"});
    ASSERT_TRUE(Ended(again, 10000));
    EXPECT_EQ(again->exitCode(), 0);
    StartRenamer({});
}

TEST_F(HandOverTest, MalformedMessagesAreRefusedAndTheRenamerGoesOn) {
    files_.MakeFile("a.txt");
    files_.MakeFile("b.txt");
    QProcess* renamer = StartRenamer({QString::fromStdString(files_.Path("a.txt"))});
    const std::u16string valid = files_.U16Path("a.txt") + u'\0';

    const auto answer = [](QLocalSocket& socket, const std::string& message) -> int {
        socket.write(message.data(), static_cast<qint64>(message.size()));
        socket.waitForBytesWritten(5000);
        QByteArray reply;
        while (reply.size() < 4 && (socket.bytesAvailable() > 0 || socket.waitForReadyRead(5000)))
            reply += socket.read(4 - reply.size());
        return reply.size() == 4 ? (DecodeResult(reply.toStdString()) ? 1 : 0) : -1;
    };
    QLocalSocket checked;
    checked.connectToServer(SocketPath());
    ASSERT_TRUE(checked.waitForConnected(5000));
    EXPECT_EQ(answer(checked, Copy(2, valid)), 0) << "tag 2";
    EXPECT_EQ(answer(checked, Copy(0, std::u16string(u"/\0", 2))), 0) << "4 bytes";
    QLocalSocket odd;
    odd.connectToServer(SocketPath());
    ASSERT_TRUE(odd.waitForConnected(5000));
    Message oddLength{MessageKind::kCopyData, 0, Copy(0, valid).substr(kHeaderBytes) + "x"};
    EXPECT_EQ(answer(odd, EncodeMessage(oddLength)), 0) << "odd length";
    EXPECT_EQ(answer(odd, Copy(0, files_.U16Path("a.txt"))), 0) << "no zero at the end";
    EXPECT_EQ(answer(odd, Copy(0, std::u16string(u"a.txt\0", 6))), 0) << "relative path";
    EXPECT_EQ(answer(odd, Copy(1, valid)), 1) << "the same connection goes on";

    // A stream that cannot be read on is cut off.
    for (const std::string& broken :
         {EncodeMessage({static_cast<MessageKind>(77), 0, "data"}),
          Copy(0, valid).substr(0, 12) + std::string("\xff\xff\xff\x7f", 4)}) {
        QLocalSocket socket;
        socket.connectToServer(SocketPath());
        ASSERT_TRUE(socket.waitForConnected(5000));
        socket.write(broken.data(), static_cast<qint64>(broken.size()));
        socket.waitForBytesWritten(5000);
        EXPECT_TRUE(socket.state() == QLocalSocket::UnconnectedState ||
                    socket.waitForDisconnected(5000));
    }

    // Peers that say nothing, or stop half-way, do not hold the window up.
    QLocalSocket silent;
    silent.connectToServer(SocketPath());
    ASSERT_TRUE(silent.waitForConnected(5000));
    QLocalSocket halfWay;
    halfWay.connectToServer(SocketPath());
    ASSERT_TRUE(halfWay.waitForConnected(5000));
    halfWay.write(Copy(0, valid).substr(0, 20).data(), 20);
    halfWay.waitForBytesWritten(5000);
    QProcess* second = Start({QString::fromStdString(files_.Path("b.txt"))});
    ASSERT_TRUE(Ended(second, 20000));
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_EQ(renamer->state(), QProcess::Running);

    QProcess* exit = Start({"--exit"});
    ASSERT_TRUE(Ended(exit, 30000));
    ASSERT_TRUE(Ended(renamer, 30000));
    EXPECT_EQ(renamer->exitCode(), 2);
}

TEST_F(HandOverTest, StartDuringShutdownOpensTheWindowWithItsPaths) {
    // A renamer that is closing still holds the lock but answers no more.
    files_.MakeFile("a.txt");
    auto closing = std::make_unique<InstanceLock>();
    ASSERT_EQ(closing->TryAcquire(InstanceLockPath(runtime_.bytes())),
              InstanceLock::Result::kAcquired);
    QProcess* start = Start({QString::fromStdString(files_.Path("a.txt"))});
    QTimer::singleShot(500, [&] { closing.reset(); });  // now it has ended
    QLocalSocket probe;
    ASSERT_TRUE(WaitUntil(
        [&] {
            probe.connectToServer(SocketPath());
            return probe.waitForConnected(100);
        },
        30000))
        << start->readAllStandardError().toStdString();
    probe.disconnectFromServer();
    EXPECT_EQ(start->state(), QProcess::Running);  // it is the renamer now

    QProcess* exit = Start({"--exit"});
    ASSERT_TRUE(Ended(exit, 30000));
    ASSERT_TRUE(Ended(start, 30000));
    EXPECT_EQ(start->exitCode(), 2);
}

TEST_F(HandOverTest, UnansweredHandOverIsReportedAfterTenSeconds) {
    InstanceLock stuck;  // holds the lock, never listens
    ASSERT_EQ(stuck.TryAcquire(InstanceLockPath(runtime_.bytes())),
              InstanceLock::Result::kAcquired);
    const auto begin = std::chrono::steady_clock::now();
    QProcess* start = Start({"/a.txt", "/b.txt"});
    ASSERT_TRUE(Ended(start, 60000));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_GE(seconds, 10.0);
    EXPECT_EQ(start->exitCode(), 1);
    EXPECT_NE(start->readAllStandardError().toStdString().find("2 path(s) not added"),
              std::string::npos);
}

TEST_F(HandOverTest, RefusedOrMissingPathsAddNothingAndIdlePeersAreDropped) {
    files_.MakeFile("a.txt");
    files_.MakeFolder("F");
    files_.MakeFile("F/in.txt");
    ui::CBatchRenameDlg dialog(nullptr);
    dialog.show();
    CExtraWin extraWin(&dialog, &dialog);
    extraWin.SetIdleTimeout(300);
    ASSERT_TRUE(extraWin.Listen(SocketPath()));
    const auto rows = [&] { return dialog.PreviewList()->model()->rowCount(); };

    QLocalSocket socket;
    socket.connectToServer(SocketPath());
    ASSERT_TRUE(socket.waitForConnected(5000));
    std::vector<bool> results;
    const auto send = [&](const std::string& message) {
        socket.write(message.data(), static_cast<qint64>(message.size()));
        const std::size_t want = results.size() + 1;
        QByteArray reply;
        EXPECT_TRUE(WaitUntil(
            [&] {
                reply += socket.read(4 - reply.size());
                return reply.size() == 4;
            },
            5000));
        results.push_back(DecodeResult(reply.toStdString()));
        return results.size() == want && results.back();
    };
    const std::u16string a = files_.U16Path("a.txt") + u'\0';
    EXPECT_FALSE(send(Copy(2, a)));
    EXPECT_EQ(rows(), 0);
    // Taken, but a path that does not exist adds nothing.
    EXPECT_TRUE(send(Copy(0, files_.U16Path("missing.txt") + u'\0')));
    EXPECT_TRUE(send(Copy(1, files_.U16Path("missing") + u'\0')));
    EXPECT_EQ(rows(), 0);
    EXPECT_TRUE(send(Copy(0, a)));
    EXPECT_TRUE(send(Copy(1, files_.U16Path("F") + u'\0')));
    EXPECT_EQ(rows(), 2);

    // A silent peer and one that stopped half-way are let go.
    QLocalSocket silent;
    silent.connectToServer(SocketPath());
    ASSERT_TRUE(silent.waitForConnected(5000));
    QLocalSocket halfWay;
    halfWay.connectToServer(SocketPath());
    ASSERT_TRUE(halfWay.waitForConnected(5000));
    halfWay.write(Copy(0, a).substr(0, 20).data(), 20);
    EXPECT_TRUE(WaitUntil(
        [&] {
            return silent.state() == QLocalSocket::UnconnectedState &&
                   halfWay.state() == QLocalSocket::UnconnectedState;
        },
        5000));
    EXPECT_EQ(rows(), 2);
}

}  // namespace
}  // namespace morix::start

// The same for this test's own windows (read by the sanitizer at start).
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\n";
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::unique_ptr<tosk::testing::XServer> display;
    std::unique_ptr<QApplication> app;
    if (!::testing::GTEST_FLAG(list_tests)) {
        // A private X server for each run, never the display of whoever runs the tests.
        display = std::make_unique<tosk::testing::XServer>();
        ::setenv("DISPLAY", display->Display().c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        app = std::make_unique<QApplication>(argc, argv);
    }
    const int result = RUN_ALL_TESTS();
    app.reset();
    display.reset();
    return result;
}
