// What a folder of run journals says, read the way recovery reads it.
#pragma once

#include <filesystem>
#include <string>
#include <variant>

#include "engine/run_journal.h"
#include "support/temp_dir.h"

namespace morix::testing {

// Whether a journal in folder records a run that ended (its finish mark was
// written, its removal was not).
inline bool AJournalIsMarkedFinished(const std::string& folder) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const auto parsed = ParseJournal(TempDir::Read(entry.path().string()));
        if (std::holds_alternative<JournalRecord>(parsed) &&
            std::get<JournalRecord>(parsed).finished)
            return true;
    }
    return false;
}

}  // namespace morix::testing
