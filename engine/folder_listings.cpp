#include "engine/folder_listings.h"

#include <sys/inotify.h>

#include <cstdint>

namespace morix {
namespace {

// Watches per window: each costs a little kernel memory, out of a per-user
// limit shared with every other program.
constexpr std::size_t kMostKept = 64;

constexpr std::uint32_t kEntryChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                        IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_ONLYDIR;

}  // namespace

bool ListedFolder::Read(FileSystem& fs, const std::string& folder) {
    index_.Clear();
    if (fs.ListNames(folder, names_) != 0) return false;
    index_.Reserve(names_.size());
    for (std::uint32_t n = 0; n < names_.size(); ++n) {
        // Names in one folder are unique.
        index_.Insert(HashBytes(names_[n]), n, [](std::uint32_t) { return false; });
    }
    return true;
}

bool ListedFolder::Contains(std::string_view name) const {
    return index_.Find(HashBytes(name), [&](std::uint32_t n) { return names_[n] == name; }) !=
           FlatHashIndex::kNone;
}

FolderListings::FolderListings() : changes_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

void FolderListings::TakeChanges() {
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t length = read(changes_.Get(), buffer, sizeof buffer);
        if (length <= 0) return;
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if ((event->mask & IN_Q_OVERFLOW) != 0) {
                for (auto& [folder, kept] : kept_)
                    kept.current = false;
                continue;
            }
            const auto found = byWatch_.find(event->wd);
            if (found == byWatch_.end()) continue;
            found->second->current = false;
            // The path no longer leads to the watched folder: watched anew
            // when next asked for.
            if ((event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) != 0) {
                Forget(event->wd);
            }
        }
    }
}

void FolderListings::Forget(int watch) {
    const auto found = byWatch_.find(watch);
    if (found == byWatch_.end()) return;
    inotify_rm_watch(changes_.Get(), watch);
    for (auto kept = kept_.begin(); kept != kept_.end(); ++kept) {
        if (&kept->second == found->second) {
            kept_.erase(kept);
            break;
        }
    }
    byWatch_.erase(found);
}

const ListedFolder* FolderListings::Get(FileSystem& fs, const std::string& folder) {
    if (changes_.Valid()) TakeChanges();
    auto found = kept_.find(folder);
    if (found == kept_.end() && changes_.Valid() && kept_.size() < kMostKept) {
        // Watched before it is read: a change while it is read is seen.
        const int watch = inotify_add_watch(changes_.Get(), folder.c_str(), kEntryChanges);
        // One folder under two spellings shares a watch: only one is kept.
        if (watch >= 0 && !byWatch_.contains(watch)) {
            found = kept_.emplace(folder, Kept{}).first;
            found->second.watch = watch;
            byWatch_[watch] = &found->second;
        }
    }
    if (found == kept_.end()) {
        return scratch_.Read(fs, folder) ? &scratch_ : nullptr;
    }
    Kept& kept = found->second;
    if (!kept.current) {
        if (!kept.listing.Read(fs, folder)) return nullptr;
        kept.current = true;
    }
    return &kept.listing;
}

}  // namespace morix
