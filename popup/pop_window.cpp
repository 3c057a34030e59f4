#include "popup/pop_window.h"

#include <QtGui/qguiapplication_platform.h>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QScreen>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

#include "os/web_address.h"
#include "popup/color_key.h"

namespace tosk {
namespace {

constexpr int kShowDelayMs = 500;
constexpr int kLoadTimeoutMs = 30000;
constexpr int kDisplayTimeMs = 60000;
constexpr int kSettleMs = 3000;
constexpr int kMaskRefreshMs = 200;
constexpr int kEdgeMargin = 4;

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
        nullptr);
    const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}

// Asks the window manager to take a shown window off the layer above the
// others (_NET_WM_STATE, "remove" the states "above" and "stays on top").
void LeaveTopLayer(xcb_window_t window) {
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 != nullptr ? x11->connection() : nullptr;
    if (connection == nullptr) return;
    xcb_query_tree_reply_t* tree =
        xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr);
    if (tree == nullptr) return;
    const xcb_window_t root = tree->root;
    std::free(tree);
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = Atom(connection, "_NET_WM_STATE");
    event.data.data32[0] = 0;  // remove
    event.data.data32[1] = Atom(connection, "_NET_WM_STATE_ABOVE");
    event.data.data32[2] = Atom(connection, "_NET_WM_STATE_STAYS_ON_TOP");
    event.data.data32[3] = 1;  // from an application
    xcb_send_event(connection, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(connection);
}

QString ReadResource(const QString& name) {
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll());
}

}  // namespace

// The page of the popup: it stays on web addresses and opens no windows,
// dialogs or file choosers of its own. A new window that the user's click
// asks for (a link to another target, a script run by the click) shows its
// web address in the default browser; without a click nothing opens.
class PopupPage : public QWebEnginePage {
  public:
    explicit PopupPage(QWebEngineProfile* profile) : QWebEnginePage(profile) {
        connect(this, &QWebEnginePage::newWindowRequested, this,
                [](QWebEngineNewWindowRequest& request) {
                    const QUrl url = request.requestedUrl();
                    if (request.isUserInitiated() &&
                        morix::IsWebAddress(url.toString(QUrl::FullyEncoded).toStdU16String())) {
                        QDesktopServices::openUrl(url);
                    }
                });
    }

  protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) override {
        if (!isMainFrame) return true;
        return morix::IsWebAddress(url.toString(QUrl::FullyEncoded).toStdU16String());
    }
    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }
    void javaScriptAlert(const QUrl&, const QString&) override {}
    bool javaScriptConfirm(const QUrl&, const QString&) override { return false; }
    bool javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) override {
        return false;
    }
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                  const QString&) override {}
    QStringList chooseFiles(FileSelectionMode, const QStringList&, const QStringList&) override {
        return {};
    }
};

CPopWindow::CPopWindow()
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus),
      external_(*this) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAcceptDrops(false);
    setContextMenuPolicy(Qt::NoContextMenu);

    showTimer_.setSingleShot(true);
    endTimer_.setSingleShot(true);
    settleTimer_.setSingleShot(true);
    maskTimer_.setInterval(kMaskRefreshMs);
    connect(&showTimer_, &QTimer::timeout, this, &CPopWindow::ShowNow);
    connect(&endTimer_, &QTimer::timeout, this, &CPopWindow::ClosePopup);
    connect(&settleTimer_, &QTimer::timeout, this, &CPopWindow::CheckPage);
    connect(&maskTimer_, &QTimer::timeout, this, &CPopWindow::UpdateColorKeyMask);

    channel_.registerObject(QStringLiteral("external"), &external_);
}

CPopWindow::~CPopWindow() = default;

bool CPopWindow::Show(const QString& url, const QString& sid, const QString& nid) {
    sid_ = sid;
    nid_ = nid;
    if (url.isEmpty() || sid.isEmpty()) return false;
    if (!morix::IsWebAddress(url.toStdU16String()) || view_ != nullptr) return false;
    // Escapes what a browser would escape (a "|" in the query); the host and
    // port are already known to read the same way everywhere.
    const QUrl address(url);

    // No storage name: nothing of the page is kept on disk.
    profile_ = std::make_unique<QWebEngineProfile>();
    page_ = std::make_unique<PopupPage>(profile_.get());
    QWebEngineSettings* settings = page_->settings();
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    settings->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, false);

    QWebEngineScript script;
    script.setName(QStringLiteral("window.external"));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(false);
    script.setSourceCode(QStringLiteral("(function () {\n") +
                         ReadResource(QStringLiteral(":/qtwebchannel/qwebchannel.js")) +
                         QStringLiteral("\n") + ReadResource(QStringLiteral(":/tosk/external.js")) +
                         QStringLiteral("\n})();"));
    page_->scripts().insert(script);
    page_->setWebChannel(&channel_, QWebEngineScript::MainWorld);
    connect(page_.get(), &QWebEnginePage::loadingChanged, this, &CPopWindow::OnLoadingChanged);

    view_ = std::make_unique<QWebEngineView>(this);
    view_->setPage(page_.get());
    view_->setContextMenuPolicy(Qt::NoContextMenu);
    view_->setAcceptDrops(false);
    view_->setGeometry(0, 0, width_, height_);
    resize(width_, height_);

    endTimer_.start(kLoadTimeoutMs);
    page_->load(address);
    return true;
}

void CPopWindow::OnLoadingChanged(const QWebEngineLoadingInfo& info) {
    if (shown_ || closing_) return;
    switch (info.status()) {
        case QWebEngineLoadingInfo::LoadSucceededStatus:
            settleTimer_.start(kSettleMs);
            break;
        case QWebEngineLoadingInfo::LoadFailedStatus:
            ClosePopup();
            break;
        default:
            break;
    }
}

void CPopWindow::CheckPage() {
    if (shown_ || closing_) return;
    // Runs apart from the page's own scripts, which cannot change what it sees.
    const QString arguments =
        QString::fromUtf8(QJsonDocument(QJsonArray{sid_, nid_}).toJson(QJsonDocument::Compact));
    const QString script = QStringLiteral(
                               "(function (sid, nid) {"
                               "  if (nid && document.getElementById(nid)) return 'forbidden';"
                               "  var e = document.getElementById(sid);"
                               "  if (!e) return 'missing';"
                               "  return {width: e.offsetWidth, height: e.offsetHeight,"
                               "          title: document.title};"
                               "}).apply(null, ") +
                           arguments + QStringLiteral(")");
    page_->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                         [this](const QVariant& facts) { TakePage(facts); });
}

void CPopWindow::TakePage(const QVariant& facts) {
    if (shown_ || closing_) return;
    if (facts.typeId() != QMetaType::QVariantMap) {
        ClosePopup();  // a forbidden element, no required element, or no document
        return;
    }
    const QVariantMap map = facts.toMap();
    bool ok = false;
    const int width = map.value(QStringLiteral("width")).toInt(&ok);
    if (ok) width_ = width;
    const int height = map.value(QStringLiteral("height")).toInt(&ok);
    if (ok) height_ = height;
    const QVariant title = map.value(QStringLiteral("title"));
    if (title.typeId() == QMetaType::QString) setWindowTitle(title.toString());
    Position();
}

void CPopWindow::Position() {
    shown_ = true;
    QRect area(0, 0, 1024, 768);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    const int right = area.x() + area.width();
    const int bottom = area.y() + area.height();
    view_->setGeometry(0, 0, width_, height_);
    setGeometry(right - width_ - kEdgeMargin, bottom - height_ - kEdgeMargin, width_, height_);
    ApplyLayered();
    showTimer_.start(kShowDelayMs);
}

void CPopWindow::ShowNow() {
    if (closing_) return;
    // Shown on top, so it comes to the front, and without the focus; then no
    // longer on top. The widget's own flag change would hide the window
    // again, and Qt tells the window manager of such a change only for
    // windows not shown yet: the request goes to it directly.
    show();
    overrideWindowFlags(windowFlags() & ~Qt::WindowStaysOnTopHint);
    if (QWindow* window = windowHandle()) window->setFlag(Qt::WindowStaysOnTopHint, false);
    LeaveTopLayer(static_cast<std::uint32_t>(winId()));
    endTimer_.start(kDisplayTimeMs);
    ApplyLayered();
}

void CPopWindow::SetOpacity(double opacity) {
    opacity_ = opacity;
    ApplyLayered();
}

void CPopWindow::SetColorKey(ColorRef key) {
    colorKey_ = key;
    ApplyLayered();
}

void CPopWindow::KeepAlive(std::int32_t ms) {
    if (closing_) return;
    endTimer_.start(KeepAliveInterval(ms));
}

void CPopWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    ClosePopup();
}

void CPopWindow::ClosePopup() {
    if (closing_) return;
    closing_ = true;
    showTimer_.stop();
    endTimer_.stop();
    settleTimer_.stop();
    maskTimer_.stop();
    hide();
    QCoreApplication::exit(0);
}

void CPopWindow::ApplyLayered() {
    const std::optional<int> alpha = LayeredAlpha(opacity_);
    setWindowOpacity(alpha ? *alpha / 255.0 : 1.0);
    if (colorKey_ == kNoColorKey) {
        maskTimer_.stop();
        clearMask();
        return;
    }
    UpdateColorKeyMask();
    if (isVisible()) maskTimer_.start();
}

// The window keeps only the pixels of the rendered page that differ from the key.
void CPopWindow::UpdateColorKeyMask() {
    if (colorKey_ == kNoColorKey || view_ == nullptr || !isVisible()) return;
    const QImage page = view_->grab().toImage();
    if (page.isNull()) return;
    const QRgb key =
        qRgb(static_cast<int>(colorKey_ & 0xFF), static_cast<int>(colorKey_ >> 8 & 0xFF),
             static_cast<int>(colorKey_ >> 16 & 0xFF));
    QRegion region = OpaqueRegion(page, key);
    // An empty mask would mean "no mask" and show everything.
    if (region.isEmpty()) region = QRegion(-1, -1, 1, 1);
    if (region != mask()) setMask(region);
}

}  // namespace tosk
