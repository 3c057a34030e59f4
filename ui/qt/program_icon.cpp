#include "ui/qt/program_icon.h"

namespace morix::ui {

QIcon ProgramIcon() {
    return QIcon(QStringLiteral(":/icons/trelvo-renamer.svg"));
}

}  // namespace morix::ui
