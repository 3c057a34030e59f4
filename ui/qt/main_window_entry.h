// Starts the renamer's window.
#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/qt/batch_rename_dialog.h"

namespace morix::ui {

// Starts taking what later starts of the program hand over to the window,
// once the window's own start paths are in its list. Whatever it returns
// lives until the window has closed, and ends before the window does.
using HandOverReceiver = std::function<std::unique_ptr<QObject>(CBatchRenameDlg& window)>;

// Runs the main window until it closes, with the start paths in the list,
// taking hand-overs from later starts through receiver (none when empty).
// Returns the window's result: 1 after a rename, 2 after Quit or a close
// request.
int RunMainWindow(int& argc, char** argv, const std::vector<StartPath>& paths,
                  const HandOverReceiver& receiver = {});

}  // namespace morix::ui
