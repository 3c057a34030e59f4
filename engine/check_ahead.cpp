#include "engine/check_ahead.h"

#include <algorithm>
#include <limits>
#include <string>

namespace morix {
namespace {

constexpr std::uint32_t kNoLook = std::numeric_limits<std::uint32_t>::max();

}  // namespace

CheckAhead::CheckAhead(std::unique_ptr<FileSystem> fs, std::vector<Look> order,
                       const std::vector<FileIdentity>& identities,
                       const std::vector<std::uint8_t>& stableInodes, std::size_t itemCount)
    : fs_(std::move(fs)),
      order_(std::move(order)),
      identities_(identities),
      stableInodes_(stableInodes),
      positionOf_(itemCount, kNoLook),
      verdicts_(new std::atomic<std::uint8_t>[order_.size()]) {
    for (std::uint32_t p = 0; p < order_.size(); ++p) {
        // An item looked at twice keeps its first place.
        if (positionOf_[order_[p].item] == kNoLook) positionOf_[order_[p].item] = p;
    }
    allowed_.store(std::min<std::uint32_t>(kCheckAheadWindow, order_.size()));
    thread_ = std::thread([this] { Work(); });
}

CheckAhead::~CheckAhead() {
    stop_.store(true);
    allowed_.store(std::numeric_limits<std::uint32_t>::max());
    allowed_.notify_one();
    thread_.join();
}

CheckAhead::Verdict CheckAhead::At(std::uint32_t item, std::string_view path) {
    const std::uint32_t p = item < positionOf_.size() ? positionOf_[item] : kNoLook;
    // A look planned elsewhere, or at a place before the last one asked for
    // (taken while the moves were up to a window further back), says nothing.
    if (p == kNoLook || order_[p].path != path || p + 1 < asked_) return Verdict::kUnknown;
    // A window or more beyond the last look asked for: the moves left the
    // expected order, and the rest is looked at in line, not waited for.
    if (p >= asked_ + kCheckAheadWindow) return Verdict::kUnknown;
    asked_ = p + 1;
    const auto size = static_cast<std::uint32_t>(order_.size());
    const std::uint32_t allow = std::min(p + 1 + kCheckAheadWindow, size);
    if (allow > allowed_.load()) {
        allowed_.store(allow);
        if (asleep_.load() && allow >= wakeAt_.load()) allowed_.notify_one();
    }
    if (taken_.load() <= p) {
        waiting_.store(true);
        for (std::uint32_t taken = taken_.load(); taken <= p; taken = taken_.load())
            taken_.wait(taken);
        waiting_.store(false);
    }
    return static_cast<Verdict>(verdicts_[p].load(std::memory_order_acquire));
}

// Every atomic here is sequentially consistent where it matters: a sleeper
// announces itself before it reads the value it sleeps on, and a waker
// stores the value before it reads whether anyone sleeps, so one of the two
// always sees the other.
void CheckAhead::Work() {
    const auto size = static_cast<std::uint32_t>(order_.size());
    FileIdentity seen;
    std::string path;
    for (std::uint32_t p = 0; p < size; ++p) {
        if (p >= allowed_.load()) {
            // Sleep until half a window of looks is wanted: one wake-up per
            // many moves, not one per move.
            wakeAt_.store(std::min(p + kCheckAheadWindow / 2, size));
            asleep_.store(true);
            for (std::uint32_t allowed = allowed_.load();
                 !stop_.load() && allowed < wakeAt_.load(); allowed = allowed_.load())
                allowed_.wait(allowed);
            asleep_.store(false);
        }
        if (stop_.load()) return;
        const Look& look = order_[p];
        path.assign(look.path);
        const bool its = fs_->Identify(path, seen) == 0 &&
                         SameFile(identities_[look.item], seen, stableInodes_[look.item] != 0);
        verdicts_[p].store(static_cast<std::uint8_t>(its ? Verdict::kItsFile : Verdict::kNotItsFile),
                           std::memory_order_release);
        taken_.store(p + 1);
        if (waiting_.load()) taken_.notify_one();
    }
}

}  // namespace morix
