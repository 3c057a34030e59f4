// The program's icon and the name of its desktop entry, by which the desktop
// ties the windows to the entry.
#pragma once

#include <QIcon>

namespace morix::ui {

// The icon of the desktop entry, drawn from the program's own SVG.
QIcon ProgramIcon();

// The desktop entry's file name without ".desktop".
inline constexpr const char* kDesktopEntryName = "trelvo-renamer";

}  // namespace morix::ui
