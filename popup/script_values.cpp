#include "popup/script_values.h"

#include <QString>

#include <cfenv>
#include <climits>
#include <cmath>

namespace tosk {

std::optional<double> ScriptDouble(const QJsonValue& value) {
    double number = 0;
    switch (value.type()) {
        case QJsonValue::Double:
            number = value.toDouble();
            break;
        case QJsonValue::Bool:
            number = value.toBool() ? 1.0 : 0.0;
            break;
        case QJsonValue::String: {
            bool ok = false;
            number = value.toString().trimmed().toDouble(&ok);
            if (!ok) return std::nullopt;
            break;
        }
        default:
            return std::nullopt;
    }
    if (!std::isfinite(number)) return std::nullopt;
    return number;
}

std::optional<std::int32_t> ScriptInt32(const QJsonValue& value) {
    const std::optional<double> number = ScriptDouble(value);
    if (!number) return std::nullopt;
    const int previous = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(*number);
    std::fesetround(previous);
    if (rounded < static_cast<double>(INT32_MIN) || rounded > static_cast<double>(INT32_MAX))
        return std::nullopt;
    return static_cast<std::int32_t>(rounded);
}

ColorRef ColorKeyFromBgr(std::int32_t blue, std::int32_t green, std::int32_t red) {
    const auto low = [](std::int32_t v) { return static_cast<ColorRef>(v) & 0xFFu; };
    return low(blue) << 16 | low(green) << 8 | low(red);
}

std::optional<int> LayeredAlpha(double opacity) {
    if (!(opacity < 1.0)) return std::nullopt;
    if (!(opacity > 0.0)) return 0;
    return static_cast<int>(std::trunc(opacity * 255.0)) & 0xFF;
}

int KeepAliveInterval(std::int32_t ms) {
    return ms < 0 ? INT_MAX : ms;
}

}  // namespace tosk
