// Putting back rename runs that were cut short: morix --recover, and the same
// step at the start of the other headless modes.
#pragma once

#include <cstdio>

namespace morix::cli {

// morix --recover: reports on err what was found and done. 0 when nothing
// was left to do or every file is back; 1 otherwise.
int RunRecover(std::FILE* err);

// At the start of --preview and --rename: says on err only what was found.
void RecoverAtStart(std::FILE* err);

}  // namespace morix::cli
