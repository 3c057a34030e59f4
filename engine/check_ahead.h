// Checking, on a second core, that the files a run is about to move are still
// the files it planned to move, a little ahead of the moves themselves.
//
// Every move of a run is preceded by a look at who stands at the file's place
// (one statx). Done in line, that look costs nearly as much as the move. Here
// a thread of its own takes the looks in the order the moves are expected,
// never more than kCheckAheadWindow moves ahead of the move asked for last, so
// that no look is older than that many moves when its move happens. A move
// whose look is missing, stale or was taken at another place is looked at in
// line, as before, and so is one a window or more beyond the last asked for:
// a run that leaves the expected order never waits for the thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/file_system.h"

namespace morix {

inline constexpr std::uint32_t kCheckAheadWindow = 128;

class CheckAhead {
  public:
    struct Look {
        std::uint32_t item;     // whose file
        std::string_view path;  // where it is expected; the view outlives the checker
    };

    // Starts the thread over looks in their expected order. identities and
    // stableInodes (per item, as SameFile takes them) outlive the checker.
    CheckAhead(std::unique_ptr<FileSystem> fs, std::vector<Look> order,
               const std::vector<FileIdentity>& identities,
               const std::vector<std::uint8_t>& stableInodes, std::size_t itemCount);
    // Stops the thread; looks not taken yet are dropped.
    ~CheckAhead();
    CheckAhead(const CheckAhead&) = delete;
    CheckAhead& operator=(const CheckAhead&) = delete;

    enum class Verdict { kItsFile, kNotItsFile, kUnknown };
    // The look at item's file at path, waiting for it when it is due: kUnknown
    // when none was planned there or it would be too old. Called from one
    // thread only.
    Verdict At(std::uint32_t item, std::string_view path);

  private:
    void Work();

    std::unique_ptr<FileSystem> fs_;
    const std::vector<Look> order_;
    const std::vector<FileIdentity>& identities_;
    const std::vector<std::uint8_t>& stableInodes_;
    std::vector<std::uint32_t> positionOf_;  // per item: its place in order_, or kNoLook
    std::unique_ptr<std::atomic<std::uint8_t>[]> verdicts_;  // per place: Verdict
    std::uint32_t asked_ = 0;                 // one past the last place asked for
    std::atomic<std::uint32_t> allowed_{0};   // the thread looks at places below this
    std::atomic<std::uint32_t> wakeAt_{0};    // a sleeping thread wants allowed_ at least this
    std::atomic<std::uint32_t> taken_{0};     // looks taken: places below this have verdicts
    std::atomic<bool> asleep_{false};         // the thread waits for allowed_
    std::atomic<bool> waiting_{false};        // the caller waits for taken_
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace morix
