// Telling the user, at the start of the window, about rename runs that were
// cut short and have just been rolled back.
#pragma once

#include "engine/run_recovery.h"

class QWidget;

namespace morix::ui {

// One message box for the whole report; nothing when it names no run.
void ShowRecoveryReport(const RecoveryReport& report, QWidget* parent = nullptr);

}  // namespace morix::ui
