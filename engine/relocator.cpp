#include "engine/relocator.h"

#include <cerrno>
#include <utility>

namespace morix {
namespace {

bool CannotExchange(int error) {
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == ENOTTY;
}

// Runs shorter than this check in line: a thread costs more than it saves.
constexpr std::size_t kCheckAheadFrom = 256;

}  // namespace

bool Relocator::IsItsFile(std::uint32_t i, const std::string& path) {
    if (identities_ == nullptr) return true;
    if (ahead_ != nullptr) {
        const CheckAhead::Verdict verdict = ahead_->At(i, path);
        if (verdict != CheckAhead::Verdict::kUnknown) return verdict == CheckAhead::Verdict::kItsFile;
    }
    return (mover_.Fs().Identify(path, seen_) == 0 &&
            SameFile((*identities_)[i], seen_, (*stableInodes_)[i] != 0));
}

int Relocator::Park(std::uint32_t i, std::string_view from, const std::string& parkPath) {
    from_.assign(from);
    if (!IsItsFile(i, from_)) {
        return kNotThePlannedFile;
    }
    // The parked name needs no check of how it is stored: the file is
    // found again through the same spelling.
    return mover_.Move(from_, parkPath, false).error;
}

bool Relocator::Run(std::vector<RelocationItem>& items, const std::vector<std::uint32_t>& standing,
                    bool stopOnFailure, const std::function<void(std::uint32_t)>& onArrived) {
    items_ = &items;
    stopOnFailure_ = stopOnFailure;
    onArrived_ = &onArrived;
    failed_ = false;
    const bool done = RunAll(items, standing);
    ahead_.reset();
    return done;
}

bool Relocator::RunAll(std::vector<RelocationItem>& items,
                       const std::vector<std::uint32_t>& standing) {
    ready_.clear();
    const auto count = static_cast<std::uint32_t>(items.size());
    blocker_.assign(count, kNoItem);
    waiter_.assign(count, kNoItem);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (items[i].state != RelocationItem::State::kPending) {
            continue;
        }
        const std::uint32_t other = standing[i];
        if (other == kNoItem || other == i) {
            ready_.push_back(i);
        } else if (waiter_[other] == kNoItem) {
            blocker_[i] = other;
            waiter_[other] = i;
        } else if (!Fail(i, 0, {})) {
            return false;  // two files bound for one name
        }
    }
    // Forward, the checks can go ahead of the moves; back, every move has to
    // be tried whatever happened before it, and is checked in line.
    if (identities_ != nullptr && stopOnFailure_ && count >= kCheckAheadFrom) {
        if (std::unique_ptr<FileSystem> fs = mover_.Fs().ForAnotherThread()) {
            ahead_ = std::make_unique<CheckAhead>(std::move(fs), ExpectedLooks(), *identities_,
                                                  *stableInodes_, count);
        }
    }
    if (!Drain()) {
        return false;
    }
    std::vector<std::uint32_t> stamp(count, kNoItem);
    std::vector<std::uint32_t> walked;
    for (std::uint32_t start = 0; start < count; ++start) {
        if (items[start].state != RelocationItem::State::kPending) {
            continue;
        }
        // Follow who occupies each destination: either the walk comes
        // back to start (a cycle), or it ends at a file that cannot move.
        walked.clear();
        std::uint32_t x = start;
        bool cycle = false;
        for (;;) {
            stamp[x] = start;
            walked.push_back(x);
            const std::uint32_t next = blocker_[x];
            if (next == kNoItem) {
                ready_.push_back(x);
                break;
            }
            if (next == start) {
                cycle = true;
                break;
            }
            if (items[next].state != RelocationItem::State::kPending || stamp[next] == start) {
                for (std::uint32_t w : walked) {
                    if (!Fail(w, 0, {})) {
                        return false;
                    }
                }
                break;
            }
            x = next;
        }
        if (cycle && !CloseCycle(start)) {
            return false;
        }
        if (!Drain()) {
            return false;
        }
        if (items[start].state == RelocationItem::State::kPending && !Fail(start, 0, {})) {
            return false;
        }
    }
    return !failed_;
}

// The checks of the moves in the order Drain and CloseCycle will ask for
// them when every move succeeds.
std::vector<CheckAhead::Look> Relocator::ExpectedLooks() const {
    const auto& items = *items_;
    const auto count = static_cast<std::uint32_t>(items.size());
    std::vector<CheckAhead::Look> looks;
    looks.reserve(static_cast<std::size_t>(
        std::count_if(items.begin(), items.end(), [](const RelocationItem& item) {
            return item.state == RelocationItem::State::kPending;
        })));
    std::vector<bool> seen(count, false);
    const auto look = [&](std::uint32_t i) {
        seen[i] = true;
        looks.push_back({i, items[i].cur});
    };
    // Free targets in order, then the chains behind them as each move frees
    // a name.
    std::vector<std::uint32_t> queue = ready_;
    for (std::size_t k = 0; k < queue.size(); ++k) {
        const std::uint32_t i = queue[k];
        if (seen[i] || items[i].state != RelocationItem::State::kPending) continue;
        look(i);
        if (waiter_[i] != kNoItem) queue.push_back(waiter_[i]);
    }
    // Then the cycles, each from its first item: by swaps, each file checked
    // where it stands before the swap that brings it in; by parking, the
    // first item parked and the others moving after it.
    for (std::uint32_t start = 0; start < count; ++start) {
        if (seen[start] || items[start].state != RelocationItem::State::kPending) continue;
        std::uint32_t x = start;
        while (x != kNoItem && !seen[x]) {
            seen[x] = true;
            x = blocker_[x];
        }
        if (x != start) continue;  // not a cycle: it fails
        looks.push_back({start, items[start].cur});
        const std::vector<std::uint32_t>& next = useExchange_ ? blocker_ : waiter_;
        for (x = next[start]; x != start && x != kNoItem; x = next[x])
            looks.push_back({x, items[x].cur});
    }
    return looks;
}

bool Relocator::Drain() {
    auto& items = *items_;
    // In the order the files became free: the row order for free targets,
    // and along each chain.
    for (std::size_t next = 0; next < ready_.size(); ++next) {
        const std::uint32_t i = ready_[next];
        RelocationItem& item = items[i];
        if (item.state != RelocationItem::State::kPending || blocker_[i] != kNoItem) {
            continue;
        }
        from_.assign(item.cur);
        to_.assign(item.dst);
        if (!IsItsFile(i, from_)) {
            if (!Fail(i, kNotThePlannedFile, {})) {
                return false;
            }
            continue;
        }
        SafeMover::Result result = mover_.Move(from_, to_);
        if (result.error != 0) {
            if (!Fail(i, result.error, std::move(result.strandedAt))) {
                return false;
            }
            continue;
        }
        item.cur = item.dst;
        Arrived(i);
        Freed(i);
    }
    ready_.clear();
    return true;
}

// Releases the cycle through start: by name swaps, each of which brings
// one file home, or by parking one file.
bool Relocator::CloseCycle(std::uint32_t start) {
    auto& items = *items_;
    std::uint32_t x = start;
    // After the first swap, x stands where that swap just put it: it was
    // checked before that swap, and is not looked at again.
    bool xChecked = false;
    while (useExchange_) {
        RelocationItem& item = items[x];
        const std::uint32_t other = blocker_[x];
        from_.assign(item.cur);
        to_.assign(item.dst);
        if ((!xChecked && !IsItsFile(x, from_)) || !IsItsFile(other, to_)) {
            return Fail(x, kNotThePlannedFile, {});
        }
        const int error = mover_.Exchange(from_, to_);
        if (error != 0) {
            if (CannotExchange(error)) {
                useExchange_ = false;
                break;
            }
            return Fail(x, error, {});
        }
        // other now stands where x stood, in the way of x's waiter.
        const std::uint32_t w = waiter_[x];
        items[other].cur = item.cur;
        item.cur = item.dst;
        waiter_[x] = kNoItem;
        Arrived(x);
        if (w == other) {
            blocker_[other] = kNoItem;
            Arrived(other);
            return true;
        }
        waiter_[other] = w;
        if (w != kNoItem) {
            blocker_[w] = other;
        }
        x = other;
        xChecked = true;
    }
    RelocationItem& item = items[x];
    from_.assign(item.cur);
    if (!IsItsFile(x, from_)) {
        return Fail(x, kNotThePlannedFile, {});
    }
    const std::string temp = mover_.TempPath(FolderOf(from_), ExtensionOf(originalPathOf_(x)));
    if (temp.empty()) {
        return Fail(x, EEXIST, {});
    }
    // The parked name needs no check of how it is stored: the file is
    // found again through the same spelling.
    SafeMover::Result result = mover_.Move(from_, temp, false);
    if (result.error != 0) {
        return Fail(x, result.error, std::move(result.strandedAt));
    }
    item.cur = pathStore_.emplace_back(temp);
    Freed(x);
    return true;
}

// Records a failed move; false when the work has to stop.
bool Relocator::Fail(std::uint32_t i, int error, std::string strandedAt) {
    RelocationItem& item = (*items_)[i];
    item.error = error;
    if (!strandedAt.empty()) {
        item.cur = pathStore_.emplace_back(std::move(strandedAt));
        Freed(i);
    }
    item.state = RelocationItem::State::kStuck;
    failed_ = true;
    return !stopOnFailure_;
}

void Relocator::Arrived(std::uint32_t i) {
    (*items_)[i].state = RelocationItem::State::kArrived;
    (*onArrived_)(i);
}

// Item i has left the path it occupied.
void Relocator::Freed(std::uint32_t i) {
    const std::uint32_t w = waiter_[i];
    waiter_[i] = kNoItem;
    if (w != kNoItem) {
        blocker_[w] = kNoItem;
        ready_.push_back(w);
    }
}

}  // namespace morix
