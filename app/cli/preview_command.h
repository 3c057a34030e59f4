// morix --preview: prints old name, new name and folder of every row.
#pragma once

#include <cstdio>

#include "app/cli/command_line.h"

namespace morix::cli {

// Exit status of --preview --check when a row is a conflict or impossible.
inline constexpr int kPreviewFoundProblems = 3;

// Returns the exit status. With --check, err names every row that is a
// conflict or impossible.
int RunPreview(CommandLine commandLine, std::FILE* out, std::FILE* err);

}  // namespace morix::cli
