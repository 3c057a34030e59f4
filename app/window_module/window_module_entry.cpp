// The window module's side: its one exported symbol, which carries the start
// plan out with Qt.
#include <type_traits>
#include <utility>

#include "app/instance/start_actions.h"
#include "app/window_module/window_module.h"

extern "C" __attribute__((visibility("default"))) int morix_carry_out_start(
    morix::start::StartPlan* plan, morix::start::InstanceLock* lock,
    const std::optional<std::string>* runtimeFolder, char* programName) {
    return morix::start::CarryOut(std::move(*plan), *lock, *runtimeFolder, programName);
}

// The entry keeps the type the program calls it by.
static_assert(std::is_same_v<decltype(&morix_carry_out_start), morix::window_module::Entry>);
