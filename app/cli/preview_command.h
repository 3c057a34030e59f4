// morix --preview: prints old name, new name and folder of every row.
#pragma once

#include <cstdio>

#include "app/cli/command_line.h"

namespace morix::cli {

// Returns the exit status.
int RunPreview(const CommandLine& commandLine, std::FILE* out);

}  // namespace morix::cli
