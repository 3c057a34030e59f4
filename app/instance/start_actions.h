// Carries out a start plan: the maintenance commands, the hand-over to the
// renamer that runs already, and the window. Qt is used here for the local
// socket and the popup's close request; what to do is decided in
// app/start/start_plan.h.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/cli/command_line.h"
#include "app/start/instance_lock.h"
#include "app/start/start_plan.h"

namespace morix::start {

enum class HandOverOutcome {
    kDelivered,    // every path was given, and the window asked to come to the front
    kBecameFirst,  // no renamer answered but it has ended: lock is now held
    kNoReceiver,   // no renamer answered in time
};

// Gives paths, in order, to the renamer listening in runtimeFolder, each
// waiting for its acknowledgement, then asks its window to come to the front.
// While no renamer answers, tries again every intervalMs, up to attempts
// times; a renamer that ended meanwhile leaves its lock, which this start
// then takes. paths keeps what was not delivered.
HandOverOutcome HandOverPaths(const std::string& runtimeFolder, std::vector<cli::Source>& paths,
                              InstanceLock& lock, int attempts = 100, int intervalMs = 100);

// Asks a running renamer to close (once, without waiting), then asks a
// running popup to close and waits up to 10 s for it to end.
void CloseRunningInstances(const std::string& runtimeFolder);

// Carries out any plan but StartError and HeadlessRun. lock is the instance
// lock, held when no other renamer runs. Returns the exit status.
int CarryOut(StartPlan plan, InstanceLock& lock, const std::optional<std::string>& runtimeFolder,
             char* programName);

}  // namespace morix::start
