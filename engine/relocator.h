// Moving a set of files to their destinations when destinations are names
// that other files of the set still hold: chains, swaps and rotations.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/check_ahead.h"
#include "engine/safe_move.h"

namespace morix {

// A file on its way: where it is now and where it has to go. Both views point
// into path strings that outlive the work (the callers' paths or the path
// store).
struct RelocationItem {
    enum class State : std::uint8_t { kPending, kArrived, kStuck };
    std::string_view cur;
    std::string_view dst;
    State state = State::kPending;
    int error = 0;  // when stuck: the errno value of its failed move; 0 when it waited
                    // behind another file that could not move
};

inline constexpr std::uint32_t kNoItem = 0xFFFFFFFFu;

// Moves the files in an order that follows the dependencies: a file whose
// destination is free moves first, and each move frees the name that the next
// file is waiting for. Files that wait for each other in a cycle are released
// by parking one of them under a temporary name (or by swapping names where
// the volume can). The dependencies are worked out once, so every file costs
// a constant number of steps.
class Relocator {
  public:
    // originalPaths[i] is item i's name before any move; its extension is
    // kept by the temporary names. Paths made on the way go to pathStore.
    // Both outlive the work.
    Relocator(SafeMover& mover, bool& useExchange, const std::vector<std::string>& originalPaths,
              std::deque<std::string>& pathStore)
        : Relocator(mover, useExchange, pathStore) {
        originalPathOf_ = [&originalPaths](std::uint32_t i) -> std::string_view {
            return originalPaths[i];
        };
    }
    Relocator(SafeMover& mover, bool& useExchange,
              const std::vector<std::string_view>& originalPaths, std::deque<std::string>& pathStore)
        : Relocator(mover, useExchange, pathStore) {
        originalPathOf_ = [&originalPaths](std::uint32_t i) { return originalPaths[i]; };
    }

    // Moves every pending item. standing[i] is the item that stands at item
    // i's destination, or kNoItem. onArrived runs after each arrival. With
    // stopOnFailure the first failure ends the work; otherwise a file that
    // cannot move, and every file waiting behind it, stays where it is. True
    // when every item arrived.
    bool Run(std::vector<RelocationItem>& items, const std::vector<std::uint32_t>& standing,
             bool stopOnFailure, const std::function<void(std::uint32_t)>& onArrived);

    // Before each move, the file at an item's place is checked against
    // identities[i] (see SameFile; stableInodes[i] per item) and not moved
    // when it is another (error kNotThePlannedFile). Both outlive the work.
    // Where the file system allows, the checks of a long forward Run are
    // taken on another thread, a bounded number of moves ahead (CheckAhead).
    void CheckIdentities(const std::vector<FileIdentity>& identities,
                         const std::vector<std::uint8_t>& stableInodes) {
        identities_ = &identities;
        stableInodes_ = &stableInodes;
    }

    // Whether the file at path is item i's, as CheckIdentities asks.
    bool IsItsFile(std::uint32_t i, const std::string& path);

    // Moves item i's file from where it is to a parking name of its own,
    // after checking it is the item's: 0, kNotThePlannedFile or an errno
    // value. The caller records the new place.
    int Park(std::uint32_t i, std::string_view from, const std::string& parkPath);

  private:
    Relocator(SafeMover& mover, bool& useExchange, std::deque<std::string>& pathStore)
        : mover_(mover), useExchange_(useExchange), pathStore_(pathStore) {}
    bool RunAll(std::vector<RelocationItem>& items, const std::vector<std::uint32_t>& standing);
    std::vector<CheckAhead::Look> ExpectedLooks() const;
    bool Drain();
    bool CloseCycle(std::uint32_t start);
    bool Fail(std::uint32_t i, int error, std::string strandedAt);
    void Arrived(std::uint32_t i);
    void Freed(std::uint32_t i);

    SafeMover& mover_;
    bool& useExchange_;
    std::function<std::string_view(std::uint32_t)> originalPathOf_;
    std::deque<std::string>& pathStore_;
    const std::vector<FileIdentity>* identities_ = nullptr;
    const std::vector<std::uint8_t>* stableInodes_ = nullptr;
    FileIdentity seen_;
    std::vector<RelocationItem>* items_ = nullptr;
    const std::function<void(std::uint32_t)>* onArrived_ = nullptr;
    bool stopOnFailure_ = true;
    bool failed_ = false;
    std::vector<std::uint32_t> blocker_;  // the item standing at my destination
    std::vector<std::uint32_t> waiter_;   // the item bound for where I stand
    std::vector<std::uint32_t> ready_;
    std::string from_, to_;
    std::unique_ptr<CheckAhead> ahead_;
};

}  // namespace morix
