// Listings of folders kept from one preview pass to the next. A folder is
// read again only after the system reported a change of its entries
// (inotify), so a pass over a large folder that did not change costs
// lookups only, and one that did sees the change.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/file_system.h"
#include "engine/flat_hash_index.h"
#include "os/unique_fd.h"

namespace morix {

// The entries of one folder, looked up by their exact name.
class ListedFolder {
  public:
    // Reads folder; false when it cannot be read.
    bool Read(FileSystem& fs, const std::string& folder);
    bool Contains(std::string_view name) const;

  private:
    std::vector<std::string> names_;
    FlatHashIndex index_;
};

class FolderListings {
  public:
    FolderListings();

    // The entries of folder as they are now; null when it cannot be read.
    // Valid until the next call.
    const ListedFolder* Get(FileSystem& fs, const std::string& folder);

  private:
    struct Kept {
        ListedFolder listing;
        int watch = -1;
        bool current = false;
    };
    // Marks the folders whose entries changed since the last call.
    void TakeChanges();
    void Forget(int watch);

    UniqueFd changes_;  // inotify; invalid where the system offers none
    std::unordered_map<std::string, Kept> kept_;
    std::unordered_map<int, Kept*> byWatch_;
    ListedFolder scratch_;  // a folder read without being kept
};

}  // namespace morix
