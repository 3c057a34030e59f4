#include "engine/taken_target.h"

#include "engine/safe_move.h"

namespace morix {

bool OutsideTargetTaken(FileSystem& fs, const std::string& oldPath, const std::string& newPath,
                        bool exactNames, const std::function<bool()>& listFolder,
                        const std::vector<std::string>& names) {
    const bool caseOnly = AsciiEqualsNoCase(newPath, oldPath);
    // A change of case on a volume that may fold it is judged from the
    // listing alone: looking the new spelling up would leave a FUSE volume's
    // kernel cache believing it taken.
    if (caseOnly && !exactNames) {
        return !listFolder() || OtherFileUnderCaseVariant(names, NameOf(oldPath), NameOf(newPath));
    }
    // Only a clear answer counts as taken; on any other error the move
    // itself, which never replaces, decides.
    if (fs.Lstat(newPath) != 0) return false;
    if (!caseOnly) return true;
    return !listFolder() || OtherFileUnderCaseVariant(names, NameOf(oldPath), NameOf(newPath));
}

}  // namespace morix
