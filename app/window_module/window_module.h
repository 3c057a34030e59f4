// The window's half of morix: the window, the hand-over to a running renamer
// and the desktop commands, with Qt and everything else they need. It is a
// module of its own, loaded only by starts that carry such a plan out, so
// that the headless modes (preview, rename, recover) start without loading
// any of it.
#pragma once

#include <optional>
#include <string>

#include "app/start/instance_lock.h"
#include "app/start/start_plan.h"

namespace morix::window_module {

// The module's file, in the program's modules folder, and the one symbol it
// exports.
inline constexpr char kFileName[] = "morix-window.so";
inline constexpr char kEntryName[] = "morix_carry_out_start";

// The entry: carries out any plan but StartError and HeadlessRun (see
// start::CarryOut) and returns the exit status.
using Entry = int (*)(start::StartPlan* plan, start::InstanceLock* lock,
                      const std::optional<std::string>* runtimeFolder, char* programName);

// Loads the module and hands the plan to it. When the module cannot be
// loaded, says why on stderr and returns 1.
int CarryOut(start::StartPlan plan, start::InstanceLock& lock,
             const std::optional<std::string>& runtimeFolder, char* programName);

}  // namespace morix::window_module
