// An open-addressing hash index of small integer ids whose keys live
// elsewhere (in a list of items or a buffer of names). Flat arrays, no node
// per entry: lists of a million rows stay cheap to fill and to clear. The
// table may be any size and fills to three quarters: an index reserved for a
// million ids takes 1.33 million slots, not the next power of two above two
// million.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace morix {

// The hash of a byte string as the index takes it.
inline std::uint64_t HashBytes(std::string_view bytes) {
    return std::hash<std::string_view>{}(bytes);
}

class FlatHashIndex {
  public:
    static constexpr std::uint32_t kNone = UINT32_MAX;

    // The id whose key equals the one sought, or kNone. equals(id) compares
    // the stored key of id with the sought key.
    template <typename Equals>
    std::uint32_t Find(std::uint64_t hash, const Equals& equals) const {
        if (slots_.empty()) return kNone;
        const Slot& slot = slots_[Probe(hash, equals)];
        return slot.id;
    }

    // Adds id under hash unless an equal key is present; returns the id now
    // stored for that key.
    template <typename Equals>
    std::uint32_t Insert(std::uint64_t hash, std::uint32_t id, const Equals& equals) {
        if (4 * (count_ + 1) > 3 * slots_.size())
            Rehash(std::max<std::size_t>(16, slots_.size() + slots_.size() / 2));
        Slot& slot = slots_[Probe(hash, equals)];
        if (slot.id == kNone) {
            slot = Slot{static_cast<std::uint32_t>(hash), id};
            ++count_;
        }
        return slot.id;
    }

    void Reserve(std::size_t count) {
        const std::size_t size = std::max<std::size_t>(16, count + count / 3 + 1);
        if (size > slots_.size()) Rehash(size);
    }

    void Clear() {
        if (count_ != 0) std::fill(slots_.begin(), slots_.end(), Slot{});
        count_ = 0;
    }

    std::size_t Size() const { return count_; }

  private:
    struct Slot {
        std::uint32_t hash = 0;  // low bits of the key's hash, to skip most key comparisons
        std::uint32_t id = kNone;
    };

    // Where a key of these 32 hash bits is looked for first: the bits scaled
    // to the table's size.
    std::size_t Home(std::uint32_t hash) const {
        return static_cast<std::size_t>((std::uint64_t{hash} * slots_.size()) >> 32);
    }
    std::size_t Next(std::size_t i) const { return i + 1 == slots_.size() ? 0 : i + 1; }

    template <typename Equals>
    std::size_t Probe(std::uint64_t hash, const Equals& equals) const {
        const auto low = static_cast<std::uint32_t>(hash);
        for (std::size_t i = Home(low);; i = Next(i)) {
            const Slot& slot = slots_[i];
            if (slot.id == kNone || (slot.hash == low && equals(slot.id))) return i;
        }
    }

    void Rehash(std::size_t size) {
        std::vector<Slot> old(size);
        old.swap(slots_);
        for (const Slot& slot : old) {
            if (slot.id == kNone) continue;
            std::size_t i = Home(slot.hash);
            while (slots_[i].id != kNone)
                i = Next(i);
            slots_[i] = slot;
        }
    }

    std::vector<Slot> slots_;  // empty, or 16 slots or more, at least a quarter of them free
    std::size_t count_ = 0;
};

}  // namespace morix
