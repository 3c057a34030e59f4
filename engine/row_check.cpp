#include "engine/row_check.h"

#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <unordered_map>

#include "engine/parallel.h"
#include "engine/paths.h"
#include "engine/taken_target.h"
#include "engine/text.h"

namespace morix {
namespace {

constexpr long kExfatMagic = 0x2011BAB0;
constexpr long kNtfs3Magic = 0x7366746E;
constexpr long kNtfsMagic = 0x5346544E;
constexpr long kFuseMagic = 0x65735546;

// Targets per folder from which one listing of the folder is cheaper than a
// query per target (on a volume that keeps names exactly, where a name is
// taken exactly when the listing holds it).
constexpr std::size_t kListFolderFrom = 64;

std::uint64_t HashName(std::u16string_view name) {
    return std::hash<std::u16string_view>{}(name);
}

// The kind of what stands at path, for the reason shown.
RowProblem TakenBy(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return RowProblem::kTakenByFile;
    if (S_ISLNK(st.st_mode)) return RowProblem::kTakenByLink;
    if (S_ISDIR(st.st_mode)) return RowProblem::kTakenByFolder;
    return RowProblem::kTakenByFile;
}

// The names of every row, read once: the rows' items lie anywhere in memory.
struct RowNames {
    std::vector<std::u16string_view> oldFolders;  // as PathParts keeps them, with their "/"
    std::vector<std::u16string_view> oldNames;
    std::vector<std::u16string_view> newNames;
};

struct FolderRows {
    std::u16string_view folder;
    std::vector<std::uint32_t> rows;
};

// The rows by the folder of their file, folders in the order first met.
std::vector<FolderRows> GroupByFolder(const RowNames& names) {
    std::vector<FolderRows> groups;
    std::unordered_map<std::u16string_view, std::size_t> groupOf;
    std::size_t last = SIZE_MAX;
    for (std::uint32_t r = 0; r < names.oldFolders.size(); ++r) {
        const std::u16string_view folder = PathParts{names.oldFolders[r], {}}.Parent();
        if (last == SIZE_MAX || groups[last].folder != folder) {
            const auto [found, added] = groupOf.emplace(folder, groups.size());
            if (added) groups.push_back(FolderRows{folder, {}});
            last = found->second;
        }
        groups[last].rows.push_back(r);
    }
    return groups;
}

// The conflicts among the rows of one folder, by the rules of the run: a
// target that is the old name of a row is free when that row's file moves
// away and no other row wants it too; any other target is judged on disk.
class FolderTargetCheck {
  public:
    FolderTargetCheck(FileSystem& fs, const FolderRows& group, const RowNames& names,
                      std::vector<RowCheck>& checks, FolderListings* listings)
        : fs_(fs),
          listings_(listings),
          group_(group),
          names_(names),
          checks_(checks),
          folder_(EncodeFileName(group.folder)),
          folderOrRoot_(folder_.empty() ? "/" : folder_) {}

    void Run() {
        std::vector<std::uint32_t> changed;
        for (std::uint32_t i = 0; i < group_.rows.size(); ++i) {
            if (Check(i).state != RowState::kUnchanged) changed.push_back(i);
        }
        if (changed.empty()) return;
        const bool exact = fs_.KeepsExactNames(folderOrRoot_);
        if (!exact || changed.size() < kListFolderFrom) {
            JudgeOneByOne(TargetsOutsideTheRows(changed), exact);
            return;
        }
        ListedFolder own;
        const ListedFolder* listing = listings_ != nullptr ? listings_->Get(fs_, folderOrRoot_)
                                      : own.Read(fs_, folderOrRoot_) ? &own
                                                                     : nullptr;
        if (listing == nullptr) {
            for (const std::uint32_t i : TargetsOutsideTheRows(changed))
                Mark(i, RowProblem::kFolderUnreadable);
            return;
        }
        // Only a name the folder holds can be taken, or be the old name of
        // a row; the many new names that are free need no more look-ups.
        // (Two rows of a pass never share a new name: the pass's registry
        // gives none out twice.)
        std::vector<std::uint8_t> inFolder(changed.size());
        ParallelFor(changed.size(), [&](std::size_t begin, std::size_t end) {
            std::string bytes;
            for (std::size_t k = begin; k < end; ++k) {
                bytes.clear();
                AppendFileNameBytes(bytes, NewName(changed[k]));
                inFolder[k] = listing->Contains(bytes);
            }
        });
        std::vector<std::uint32_t> held;
        for (std::size_t k = 0; k < changed.size(); ++k) {
            if (inFolder[k]) held.push_back(changed[k]);
        }
        for (const std::uint32_t i : TargetsOutsideTheRows(held))
            Mark(i, TakenBy(TargetPath(i)));
    }

  private:
    std::u16string_view OldName(std::uint32_t i) const { return names_.oldNames[group_.rows[i]]; }
    std::u16string_view NewName(std::uint32_t i) const { return names_.newNames[group_.rows[i]]; }
    RowCheck& Check(std::uint32_t i) { return checks_[group_.rows[i]]; }
    void Mark(std::uint32_t i, RowProblem problem) {
        RowCheck& check = Check(i);
        if (check.state == RowState::kOk) check = RowCheck{StateOf(problem), problem};
    }

    // Of the given rows, marks those whose target another row holds and
    // cannot give up; returns those whose target no row holds (indexes
    // into the group's rows).
    std::vector<std::uint32_t> TargetsOutsideTheRows(const std::vector<std::uint32_t>& rows) {
        if (rows.empty()) return {};
        const auto count = static_cast<std::uint32_t>(group_.rows.size());
        FlatHashIndex oldNames;
        oldNames.Reserve(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::u16string_view name = OldName(i);
            oldNames.Insert(HashName(name), i, [&](std::uint32_t o) { return OldName(o) == name; });
        }
        std::vector<bool> madeWay(count, false);
        FlatHashIndex targets;
        std::vector<std::uint32_t> outside;
        for (const std::uint32_t i : rows) {
            const std::u16string_view name = NewName(i);
            const std::uint64_t hash = HashName(name);
            const std::uint32_t holder =
                oldNames.Find(hash, [&](std::uint32_t o) { return OldName(o) == name; });
            if (holder != FlatHashIndex::kNone) {
                if (Check(holder).state == RowState::kUnchanged) {
                    Mark(i, RowProblem::kTakenByKeptName);
                } else if (madeWay[holder]) {
                    Mark(i, RowProblem::kTakenTwice);
                }
                madeWay[holder] = true;
                continue;
            }
            if (targets.Insert(hash, i, [&](std::uint32_t o) { return NewName(o) == name; }) != i) {
                Mark(i, RowProblem::kTakenTwice);
                continue;
            }
            if (Check(i).state == RowState::kOk) outside.push_back(i);
        }
        return outside;
    }

    std::string TargetPath(std::uint32_t i) const {
        return EncodeFileName(CombinePath(group_.folder, NewName(i)));
    }

    void JudgeOneByOne(const std::vector<std::uint32_t>& outside, bool exact) {
        std::vector<std::string> names;
        bool listed = false;
        bool readable = false;
        const std::function<bool()> listFolder = [&] {
            if (!listed) {
                listed = true;
                readable = fs_.ListNames(folderOrRoot_, names) == 0;
            }
            return readable;
        };
        for (const std::uint32_t i : outside) {
            const std::string target = TargetPath(i);
            const std::uint32_t r = group_.rows[i];
            const PathParts old{names_.oldFolders[r], names_.oldNames[r]};
            if (OutsideTargetTaken(fs_, EncodeFileName(old.Whole()), target, exact, listFolder,
                                   names)) {
                Mark(i, listed && !readable ? RowProblem::kFolderUnreadable : TakenBy(target));
            }
        }
    }

    FileSystem& fs_;
    FolderListings* listings_;
    const FolderRows& group_;
    const RowNames& names_;
    std::vector<RowCheck>& checks_;
    const std::string folder_;
    const std::string folderOrRoot_;
};

}  // namespace

RowState StateOf(RowProblem problem) {
    switch (problem) {
        case RowProblem::kNone:
            return RowState::kOk;
        case RowProblem::kTakenByFile:
        case RowProblem::kTakenByFolder:
        case RowProblem::kTakenByLink:
        case RowProblem::kTakenByKeptName:
        case RowProblem::kTakenTwice:
        case RowProblem::kFolderUnreadable:
            return RowState::kConflict;
        case RowProblem::kNotAFileName:
        case RowProblem::kTooManyBytes:
        case RowProblem::kTooManyUnits:
        case RowProblem::kTrailingDot:
        case RowProblem::kControlCharacter:
        case RowProblem::kTrailingSpace:
        case RowProblem::kNotUtf8:
            break;
    }
    return RowState::kImpossible;
}

const char* ProblemText(RowProblem problem) {
    switch (problem) {
        case RowProblem::kNone:
            return "";
        case RowProblem::kTakenByFile:
            return "taken by a file not in the list";
        case RowProblem::kTakenByFolder:
            return "taken by a folder not in the list";
        case RowProblem::kTakenByLink:
            return "taken by a link not in the list";
        case RowProblem::kTakenByKeptName:
            return "taken by a file in the list that keeps its name";
        case RowProblem::kTakenTwice:
            return "the new name of another row too";
        case RowProblem::kFolderUnreadable:
            return "the folder cannot be read";
        case RowProblem::kNotAFileName:
            return "not a file name";
        case RowProblem::kTooManyBytes:
            return "longer than 255 bytes";
        case RowProblem::kTooManyUnits:
            return "longer than 255 characters";
        case RowProblem::kTrailingDot:
            return "the volume drops a dot at the end of a name";
        case RowProblem::kControlCharacter:
            return "the volume holds no control characters in a name";
        case RowProblem::kTrailingSpace:
            return "the volume holds no space at the end of a name";
        case RowProblem::kNotUtf8:
            return "the volume holds no bytes that are not UTF-8 in a name";
    }
    return "";
}

RowCounts CountStates(std::span<const RowCheck> checks) {
    RowCounts counts;
    for (const RowCheck& check : checks) {
        counts.conflicts += check.state == RowState::kConflict;
        counts.impossible += check.state == RowState::kImpossible;
        counts.unchanged += check.state == RowState::kUnchanged;
    }
    return counts;
}

VolumeNameRules NameRulesOf(const std::string& folder) {
    struct statfs fs;
    if (statfs(folder.empty() ? "/" : folder.c_str(), &fs) != 0) return {};
    switch (static_cast<long>(fs.f_type)) {
        // The kernel's drivers: vfat and exfat drop a dot at the end of a name
        // (exfat-fuse keeps it), vfat refuses a space there, and all three
        // refuse a name that is not UTF-8.
        case MSDOS_SUPER_MAGIC:
            return {0, 255, true, true, true, true};
        case kExfatMagic:
            return {0, 255, true, true, false, true};
        case kNtfs3Magic:
            return {0, 255, false, false, false, true};
        case kNtfsMagic:
        case kFuseMagic:  // exFAT and NTFS through FUSE, or any volume behind it
            return {0, 255, false, false};
        default:
            return {};
    }
}

RowProblem ImpossibleNameProblem(std::u16string_view name, const VolumeNameRules& rules) {
    if (name.empty() || name == u"." || name == u".." ||
        name.find(u'\0') != std::u16string_view::npos) {
        return RowProblem::kNotAFileName;
    }
    if (rules.maxBytes != 0 && name.size() * 3 > rules.maxBytes) {
        thread_local std::string bytes;
        bytes.clear();
        AppendFileNameBytes(bytes, name);
        if (bytes.size() > rules.maxBytes) return RowProblem::kTooManyBytes;
    }
    if (name.size() > rules.maxUnits) return RowProblem::kTooManyUnits;
    if (rules.refusesControlCharacters) {
        for (const char16_t c : name) {
            if (c < 0x20) return RowProblem::kControlCharacter;
        }
    }
    if (rules.dropsTrailingDot && name.back() == u'.') return RowProblem::kTrailingDot;
    if (rules.refusesTrailingSpace && name.back() == u' ') return RowProblem::kTrailingSpace;
    if (rules.refusesNonUtf8) {
        // A byte that is not UTF-8 decodes to a low surrogate of its own.
        for (std::size_t i = 0; i < name.size(); ++i) {
            if (name[i] >= 0xDC00 && name[i] <= 0xDFFF && (i == 0 || name[i - 1] < 0xD800 ||
                                                             name[i - 1] > 0xDBFF)) {
                return RowProblem::kNotUtf8;
            }
        }
    }
    return RowProblem::kNone;
}

std::vector<RowCheck> CheckRows(FileSystem& fs, std::size_t count,
                                const std::function<PathParts(std::size_t)>& oldPathOf,
                                const std::function<std::u16string_view(std::size_t)>& newNameOf,
                                RowCheckScope scope, FolderListings* listings) {
    RowNames names;
    names.oldFolders.resize(count);
    names.oldNames.resize(count);
    names.newNames.resize(count);
    ParallelFor(count, [&](std::size_t begin, std::size_t end) {
        for (std::size_t r = begin; r < end; ++r) {
            const PathParts old = oldPathOf(r);
            names.oldFolders[r] = old.folder;
            names.oldNames[r] = old.name;
            names.newNames[r] = newNameOf(r);
        }
    });
    std::vector<RowCheck> checks(count);
    for (const FolderRows& group : GroupByFolder(names)) {
        const VolumeNameRules rules = NameRulesOf(EncodeFileName(group.folder));
        for (const std::uint32_t r : group.rows) {
            const std::u16string_view name = names.newNames[r];
            if (name == names.oldNames[r]) {
                checks[r].state = RowState::kUnchanged;
            } else if (const RowProblem problem = ImpossibleNameProblem(name, rules);
                       problem != RowProblem::kNone) {
                checks[r] = RowCheck{RowState::kImpossible, problem};
            }
        }
        if (scope == RowCheckScope::kAll) {
            FolderTargetCheck(fs, group, names, checks, listings).Run();
        }
    }
    return checks;
}

std::vector<RowCheck> CheckPreviewRows(FileSystem& fs, const RenameList& list,
                                       std::span<const std::uint32_t> rows, const NameList& names,
                                       FolderListings* listings) {
    return CheckRows(
        fs, rows.size(), [&](std::size_t r) { return list.ItemAt(rows[r]); },
        [&](std::size_t r) { return names[r]; }, RowCheckScope::kAll, listings);
}

}  // namespace morix
