// A folder kept open for calls relative to it, opened again only when
// another folder is asked for: work mostly stays in a few folders, and the
// kernel then looks up one name instead of a whole path.
#pragma once

#include <fcntl.h>

#include <string>
#include <string_view>

#include "os/unique_fd.h"

namespace morix {

class HeldFolder {
  public:
    // The descriptor of folder (its bytes; empty is the root), or -1 when it
    // cannot be opened (asked again next time).
    int Open(std::string_view folder) {
        if (!fd_.Valid() || folder != folder_) {
            folder_.assign(folder);
            fd_.Reset(open(folder_.empty() ? "/" : folder_.c_str(),
                           O_PATH | O_DIRECTORY | O_CLOEXEC));
        }
        return fd_.Get();
    }

  private:
    std::string folder_;
    UniqueFd fd_;
};

}  // namespace morix
