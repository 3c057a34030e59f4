// The object the notice page's script reaches as window.external. The page
// talks to it through a web channel; an injected script (external.js) gives
// the page the synchronous, case-insensitive object it expects and checks
// argument counts, and keeps the opacity the page reads. Values are checked
// again here: the channel is open to any script of the page.
#pragma once

#include <QJsonValue>
#include <QObject>

namespace tosk {

class CPopWindow;

class CMyExternal : public QObject {
    Q_OBJECT

  public:
    explicit CMyExternal(CPopWindow& window);

    Q_INVOKABLE void close();
    // A value that does not convert to a number is ignored.
    Q_INVOKABLE void putOpacity(const QJsonValue& value);
    // Both return false, and change nothing, when a value does not convert.
    Q_INVOKABLE bool keepalive(const QJsonValue& ms);
    Q_INVOKABLE bool setcolorkey(const QJsonValue& blue, const QJsonValue& green,
                                 const QJsonValue& red);

  private:
    CPopWindow& window_;
};

}  // namespace tosk
