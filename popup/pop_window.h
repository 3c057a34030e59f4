// The one window of tosk: a frameless tool window with a web view that loads
// the notice page, checks it, takes the size of its required element, shows
// itself without taking the focus near the lower right corner of the primary
// screen and closes after a while. Closing it ends the program.
#pragma once

#include <QTimer>
#include <QWebChannel>
#include <QWidget>

#include <memory>

#include "popup/external_object.h"
#include "popup/script_values.h"

class QWebEngineLoadingInfo;
class QWebEngineProfile;
class QWebEngineView;

namespace tosk {

class PopupPage;

class CPopWindow : public QWidget {
    Q_OBJECT
  public:
    CPopWindow();
    ~CPopWindow() override;

    // Starts loading url; false when url is not a web address, or when url
    // or sid is empty. The window stays hidden until the page passed its check.
    bool Show(const QString& url, const QString& sid, const QString& nid);

    void SetOpacity(double opacity);
    void SetColorKey(ColorRef key);
    void KeepAlive(std::int32_t ms);
    void ClosePopup();

  protected:
    // A close from the window manager ends the program, as every close does.
    void closeEvent(QCloseEvent* event) override;

  private:
    void OnLoadingChanged(const QWebEngineLoadingInfo& info);
    void CheckPage();
    void TakePage(const QVariant& facts);
    void Position();
    void ShowNow();
    void ApplyLayered();
    void UpdateColorKeyMask();

    QString sid_;
    QString nid_;
    int width_ = 320;
    int height_ = 200;
    bool shown_ = false;
    bool closing_ = false;
    ColorRef colorKey_ = kNoColorKey;
    double opacity_ = 1.0;

    QTimer showTimer_;    // the page passed and the window is placed: show it
    QTimer endTimer_;     // load time-out, then display time, or the page's keepalive
    QTimer settleTimer_;  // the document completed: let its scripts settle, then check it
    QTimer maskTimer_;    // follows the rendered page while a colour key is set

    // Destroyed from the bottom up, so each of these outlives its users: the
    // page talks through the channel, is made with the profile and is shown
    // by the view. The view is a child widget, yet it must go before the
    // page, so it is owned here rather than left to QWidget's clean-up.
    QWebChannel channel_;
    CMyExternal external_;
    std::unique_ptr<QWebEngineProfile> profile_;
    std::unique_ptr<PopupPage> page_;
    std::unique_ptr<QWebEngineView> view_;
};

}  // namespace tosk
