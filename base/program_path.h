// Where the running program's executable is, for the desktop entries that
// start it again and for the notice launch that finds the popup beside it.
#pragma once

#include <string>

namespace morix {

// The full path of the running program; empty when it cannot be told.
std::string CurrentProgramPath();

}  // namespace morix
