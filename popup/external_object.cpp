#include "popup/external_object.h"

#include "popup/pop_window.h"
#include "popup/script_values.h"

namespace tosk {

CMyExternal::CMyExternal(CPopWindow& window) : window_(window) {}

void CMyExternal::close() {
    window_.ClosePopup();
}

void CMyExternal::putOpacity(const QJsonValue& value) {
    if (const std::optional<double> opacity = ScriptDouble(value)) window_.SetOpacity(*opacity);
}

bool CMyExternal::keepalive(const QJsonValue& ms) {
    const std::optional<std::int32_t> interval = ScriptInt32(ms);
    if (!interval) return false;
    window_.KeepAlive(*interval);
    return true;
}

bool CMyExternal::setcolorkey(const QJsonValue& blue, const QJsonValue& green,
                              const QJsonValue& red) {
    const std::optional<std::int32_t> b = ScriptInt32(blue);
    const std::optional<std::int32_t> g = ScriptInt32(green);
    const std::optional<std::int32_t> r = ScriptInt32(red);
    if (!b || !g || !r) return false;
    window_.SetColorKey(ColorKeyFromBgr(*b, *g, *r));
    return true;
}

}  // namespace tosk
