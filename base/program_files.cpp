#include "base/program_files.h"

#include <sys/stat.h>

#include <string_view>

#include "base/program_path.h"

namespace morix {
namespace {

// Relative to the folder of the program, from the build's install layout and
// its build-folder layout.
struct Places {
    const char* installed;
    const char* inBuild;  // nullptr: not in the build folder
};

Places PlacesOf(ProgramFiles which) {
    switch (which) {
        case ProgramFiles::kHelpers:
            return {MORIX_INSTALLED_HELPERS, MORIX_BUILD_HELPERS};
        case ProgramFiles::kModules:
            return {MORIX_INSTALLED_MODULES, MORIX_BUILD_MODULES};
        case ProgramFiles::kData:
            return {MORIX_INSTALLED_DATA, MORIX_BUILD_DATA};
        case ProgramFiles::kShared:
            break;
    }
    return {MORIX_INSTALLED_SHARED, nullptr};
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// folder/relative with its "." and ".." steps taken off the text, so the
// result is a plain path to compare with others and to show. The program's
// path comes with every link resolved, so a ".." here is the real parent.
std::string Resolve(std::string folder, std::string_view relative) {
    while (!relative.empty()) {
        const std::size_t slash = relative.find('/');
        const std::string_view step = relative.substr(0, slash);
        relative.remove_prefix(slash == std::string_view::npos ? relative.size() : slash + 1);
        if (step.empty() || step == ".") continue;
        if (step == "..") {
            const std::size_t cut = folder.find_last_of('/');
            folder.resize(cut == std::string::npos ? 0 : cut);
        } else {
            folder += '/';
            folder += step;
        }
    }
    return folder.empty() ? "/" : folder;
}

}  // namespace

std::string ProgramFilesFolder(ProgramFiles which, const std::string& programPath) {
    if (programPath.empty() || programPath.front() != '/') return {};
    const std::string folder = programPath.substr(0, programPath.find_last_of('/'));
    const Places places = PlacesOf(which);
    const std::string installed = Resolve(folder, places.installed);
    if (places.inBuild == nullptr || IsFolder(installed)) return installed;
    const std::string inBuild = Resolve(folder, places.inBuild);
    return IsFolder(inBuild) ? inBuild : installed;
}

std::string ProgramFilesFolder(ProgramFiles which) {
    return ProgramFilesFolder(which, CurrentProgramPath());
}

}  // namespace morix
