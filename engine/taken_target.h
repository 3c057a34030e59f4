// When a new name counts as taken: the rule the rename run refuses by, and
// that the preview shows, for a target that is no file of the run.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/file_system.h"

namespace morix {

// Whether newPath, the target of the file at oldPath and the old name of no
// file of the run, is taken by another file. exactNames: the folder's volume
// keeps names exactly (FileSystem::KeepsExactNames). A target that differs
// from the file's own name in letter case only is the file itself unless the
// folder lists both spellings; listFolder fills names with the folder's
// entries (once; it is called again only to learn whether that worked) and
// says whether the folder could be read. A folder that cannot be read, where
// its listing decides, counts as taken.
bool OutsideTargetTaken(FileSystem& fs, const std::string& oldPath, const std::string& newPath,
                        bool exactNames, const std::function<bool()>& listFolder,
                        const std::vector<std::string>& names);

}  // namespace morix
