// tosk: shows one notice page in a small window near the lower right corner
// of the screen. morix starts it and never waits for it; it always exits 0.
#include <QApplication>

#include <unistd.h>
#include <xcb/xcb.h>

#include <string>
#include <vector>

#include "popup/instance_channel.h"
#include "popup/pop_window.h"
#include "popup/popup_args.h"

namespace {

// Qt aborts when it cannot reach the display; a popup that cannot be shown
// ends quietly instead.
bool DisplayReachable() {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool reachable = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return reachable;
}

void PrepareEnvironment() {
    // The popup places itself at screen coordinates, which a Wayland client
    // cannot do; under Wayland it runs through XWayland.
    qputenv("QT_QPA_PLATFORM", "xcb");
    // Chromium refuses to start its sandbox as root.
    if (::geteuid() == 0) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv, argv + argc);

    const std::optional<QString> folder = tosk::PrivateRuntimeFolder();
    if (!folder) return 0;
    tosk::PopupInstance instance(*folder);
    if (!instance.Acquire()) return 0;  // another notice is on screen or starting

    const tosk::PopupArgs args = tosk::ParseArgs(arguments);
    if (args.url.empty() || args.sid.empty()) return 0;
    if (!DisplayReachable()) return 0;

    PrepareEnvironment();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // The notice arguments are not Qt's or Chromium's to read.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);
    app.setQuitOnLastWindowClosed(false);

    tosk::CPopWindow window;
    QObject::connect(&instance, &tosk::PopupInstance::closeRequested, &window,
                     &tosk::CPopWindow::ClosePopup);
    instance.Listen();
    if (!window.Show(QString::fromStdString(args.url), QString::fromStdString(args.sid),
                     QString::fromStdString(args.nid)))
        return 0;
    app.exec();
    return 0;
}
