// The program's side of the window module: finds it beside the program and
// loads it. Linked into the program itself, without Qt.
#include <dlfcn.h>

#include <cstdio>
#include <utility>

#include "app/window_module/window_module.h"
#include "base/program_files.h"

namespace morix::window_module {

int CarryOut(start::StartPlan plan, start::InstanceLock& lock,
             const std::optional<std::string>& runtimeFolder, char* programName) {
    const std::string path = ProgramFilesFolder(ProgramFiles::kModules) + '/' + kFileName;
    // Never unloaded: the window's libraries stay until the process ends.
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::fprintf(stderr, "morix: cannot load the window: %s\n", dlerror());
        return 1;
    }
    const auto entry = reinterpret_cast<Entry>(dlsym(module, kEntryName));
    if (entry == nullptr) {
        std::fprintf(stderr, "morix: cannot load the window: %s\n", dlerror());
        return 1;
    }
    return entry(&plan, &lock, &runtimeFolder, programName);
}

}  // namespace morix::window_module
