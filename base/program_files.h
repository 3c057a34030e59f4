// Where the files that come with the program are: found from the running
// program's own path, so one build works from its build folder, under
// /usr/local and under /usr, and no path of the machine that built it is
// compiled in. Only the folders' places relative to the program's folder
// are: as the installation lays them out, and as the build folder does.
#pragma once

#include <string>

namespace morix {

enum class ProgramFiles {
    kHelpers,  // programs the renamer starts (the notice popup)
    kModules,  // parts of the renamer it loads only when needed (the window)
    kData,     // its own read-only data (the help pages)
    kShared,   // the data folder it shares with the desktop (entries, icons)
};

// The folder of that kind for the program at programPath: its place in an
// installation when that exists, else its place in the build folder when
// that exists, else the place in an installation. Empty when programPath is
// not absolute. The build folder has no shared data: there kShared is always
// the place in an installation.
std::string ProgramFilesFolder(ProgramFiles which, const std::string& programPath);
// The same for the running program.
std::string ProgramFilesFolder(ProgramFiles which);

}  // namespace morix
