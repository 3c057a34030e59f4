// Starts the renamer's window.
#pragma once

#include <string>
#include <vector>

namespace morix::ui {

// A path named when the program starts: a file (or a folder as one item), or
// a folder whose files are added.
struct StartPath {
    std::u16string path;
    bool isFolder = false;
};

// Runs the main window until it closes, with the start paths in the list.
// Returns the program's exit status.
int RunMainWindow(int& argc, char** argv, const std::vector<StartPath>& paths);

}  // namespace morix::ui
