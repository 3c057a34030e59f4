// How values that the notice page's script passes to window.external become
// numbers, and how the popup's opacity and colour key become window state.
#pragma once

#include <QJsonValue>

#include <cstdint>
#include <optional>

namespace tosk {

// A colour as the page gives it: 0x00BBGGRR. All bits set means "no key".
using ColorRef = std::uint32_t;
inline constexpr ColorRef kNoColorKey = 0xFFFFFFFFu;

// A number, a numeric text (blanks around it allowed) or a boolean (1 or 0).
// Anything else, and a number that is not finite, does not convert.
std::optional<double> ScriptDouble(const QJsonValue& value);

// As ScriptDouble, rounded half to even; values outside 32 bits do not convert.
std::optional<std::int32_t> ScriptInt32(const QJsonValue& value);

// setcolorkey takes blue, green and red; each contributes its low 8 bits.
ColorRef ColorKeyFromBgr(std::int32_t blue, std::int32_t green, std::int32_t red);

// The alpha (0-255) that an opacity applies, or nothing for 1 and above.
// The low 8 bits of the truncated opacity x 255; below 0 the window is fully
// transparent rather than wrapping round to an arbitrary alpha.
std::optional<int> LayeredAlpha(double opacity);

// The end timer's interval for a keepalive of ms milliseconds. A negative
// value reads as a very large unsigned one, so it keeps the popup for the
// longest interval a timer can have.
int KeepAliveInterval(std::int32_t ms);

}  // namespace tosk
