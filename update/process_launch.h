// Starting other programs, and the few path questions about the running
// program that the notice launch and the desktop integration ask.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace morix {

// Starts argv[0] with the arguments argv[1...] as they are: no shell, no
// quoting, so no argument can split into two or run a command. The child
// gets the caller's environment, standard input, output and error, and no
// other open descriptor. workingDir empty: the caller's folder. With wait,
// returns once the child has ended; without, as soon as it exists (the child
// is reaped in the background, so it never lingers as a zombie). False when
// the program cannot be started.
bool LaunchProcess(const std::vector<std::u16string>& argv, bool wait,
                   std::u16string_view workingDir);

// Linux has no integrity levels: the same as LaunchProcess.
bool LaunchProcessAtMediumIntegrity(const std::vector<std::u16string>& argv, bool wait,
                                    std::u16string_view workingDir);

// No browser here opens addresses in a protected mode: always false.
bool IsProtectedModeUrl(std::u16string_view url);

// Full path of the running executable; empty when it cannot be read.
std::u16string GetModulePath();
// Its folder.
std::u16string GetModuleFolder();
// The folder of the programs it starts (the notice popup): where the
// installation or the build folder puts them, relative to the program.
std::u16string GetHelperFolder();

// path becomes CombinePath(path, name); false (and no change) for a null name.
bool AppendPath(std::u16string& path, const char16_t* name);

// Something that is not a folder exists at path, following symbolic links (a
// link to a file is a file, a dangling link is not).
bool IsFile(std::u16string_view path);

}  // namespace morix
