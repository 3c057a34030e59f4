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

class CBatchRenameDlg;

// Puts the start paths into the window's list, in the order given, then
// sorts the rows once as the options say.
void AddStartPaths(CBatchRenameDlg& dialog, const std::vector<StartPath>& paths);

// Runs the main window until it closes, with the start paths in the list,
// taking hand-overs from later starts on handOverSocket (none when empty).
// Returns the window's result: 1 after a rename, 2 after Quit or a close
// request.
int RunMainWindow(int& argc, char** argv, const std::vector<StartPath>& paths,
                  const std::string& handOverSocket = {});

}  // namespace morix::ui
