#include "engine/safe_move.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "engine/paths.h"
#include "engine/text.h"

namespace morix {

std::string_view FolderView(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

std::string FolderOf(std::string_view path) {
    return std::string(FolderView(path));
}

std::string NameOf(std::string_view path) {
    return std::string(path.substr(path.rfind('/') + 1));
}

std::string ExtensionOf(std::string_view path) {
    return EncodeFileName(Extension(DecodeFileName(NameOf(path))));
}

bool AsciiEqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(static_cast<unsigned char>(a[i])) !=
            AsciiLower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool OtherFileUnderCaseVariant(const std::vector<std::string>& entries, std::string_view source,
                               std::string_view target) {
    bool sourceListed = false;
    bool targetListed = false;
    for (const std::string& entry : entries) {
        sourceListed = sourceListed || entry == source;
        targetListed = targetListed || entry == target;
    }
    // Both spellings listed: two entries. The target alone: a volume that
    // lists names in a case of its own, so it is the source's entry.
    return sourceListed && targetListed;
}

SafeMover::Result SafeMover::Move(const std::string& from, const std::string& to,
                                  bool checkStoredName) {
    const std::string_view folder = FolderView(to);
    const bool sameFolder = folder == FolderView(from);
    if (sameFolder && AsciiEqualsNoCase(from, to) && !FolderKeepsExactNames(folder)) {
        // Never look the new spelling up while the file still holds the
        // name: a FUSE volume's kernel cache would remember it as taken.
        return MoveThroughTemp(from, to);
    }
    const int error = MoveNoReplace(from, to);
    if (error == EEXIST && sameFolder) {
        // Perhaps the same file under another spelling, on a volume that
        // folds more than it was thought to.
        return MoveThroughTemp(from, to);
    }
    if (error != 0) {
        return {error, {}};
    }
    if (checkStoredName && !deferChecks_ && !NameIsStored(to)) {
        // The volume stored another name than asked for; put the file back.
        Result undo = Move(to, from, false);
        return {EINVAL, undo.error == 0 ? std::string() : to};
    }
    return {};
}

int SafeMover::MoveNoReplace(const std::string& from, const std::string& to) {
    const int error = fs_.Rename(from, to, RenameMode::kNoReplace);
    // EINVAL: the volume does not know the flag (FUSE), or the name is
    // invalid there; the link route tells the two apart.
    return error == EINVAL ? MoveByLink(from, to) : error;
}

int SafeMover::MoveByLink(const std::string& from, const std::string& to) {
    const int error = fs_.Link(from, to);
    if (error == 0) {
        const int unlinkError = fs_.Unlink(from);
        if (unlinkError != 0) {
            if (fs_.Unlink(to) != 0) {
                secondNameLeft_ = true;
            }
            return unlinkError;
        }
        return 0;
    }
    if (error != EPERM && error != EOPNOTSUPP && error != ENOSYS && error != EMLINK) {
        return error;  // EEXIST, or a name the volume cannot hold
    }
    return MoveOverReservation(from, to);
}

int SafeMover::MoveOverReservation(const std::string& from, const std::string& to) {
    // Links are refused here (or from is a folder), and a plain rename
    // replaces whatever holds the target. So the target is first taken with
    // an exclusive create, which fails on any name in use, and the rename
    // then replaces only that reservation, after checking it is still ours.
    // What remains: another process that deletes our reservation and creates
    // a file of its own there between the check and the rename loses that
    // file. It has to remove a file it did not make first.
    FileIdentity source;
    if (const int error = fs_.Identify(from, source); error != 0) {
        return error;
    }
    FileIdentity reserved;
    if (const int error = fs_.Reserve(to, source.folder, reserved); error != 0) {
        return error;
    }
    FileIdentity now;
    const int checkError = fs_.Identify(to, now);
    if (checkError != 0 || !IsReservation(reserved, now)) {
        DropReservation(to, reserved);
        return checkError != 0 ? checkError : EEXIST;  // not ours any more: leave it alone
    }
    const int error = fs_.Rename(from, to, RenameMode::kPlain);
    if (error != 0) {
        DropReservation(to, reserved);
    }
    return error;
}

void SafeMover::DropReservation(const std::string& path, const FileIdentity& reserved) {
    // A second try, as one failing call must not leave an empty name behind.
    for (int attempt = 0; attempt < 2; ++attempt) {
        FileIdentity now;
        const int error = fs_.Identify(path, now);
        if (error == ENOENT || (error == 0 && !IsReservation(reserved, now))) {
            return;
        }
        if (error == 0 && fs_.Unlink(path) == 0) {
            return;
        }
    }
}

bool SafeMover::IsReservation(const FileIdentity& reserved, const FileIdentity& now) {
    return now.folder == reserved.folder && now.device == reserved.device &&
           now.inode == reserved.inode && (now.folder || now.size == 0);
}

SafeMover::Result SafeMover::MoveThroughTemp(const std::string& from, const std::string& to) {
    const std::string folder = FolderOf(to);
    const std::string target = NameOf(to);
    if (fs_.ListNames(folder, names_) != 0 ||
        OtherFileUnderCaseVariant(names_, NameOf(from), target)) {
        return {EEXIST, {}};
    }
    const std::string temp = TempPath(folder, ExtensionOf(from));
    if (temp.empty()) {
        return {EEXIST, {}};
    }
    const int parkError = MoveNoReplace(from, temp);
    if (parkError != 0) {
        return {parkError, {}};
    }
    // With the file parked, the folder itself (not a cached lookup) tells
    // whether anything else answers to the new name.
    int error = fs_.ListNames(folder, names_);
    for (std::size_t i = 0; error == 0 && i < names_.size(); ++i) {
        if (AsciiEqualsNoCase(names_[i], target)) {
            error = EEXIST;
        }
    }
    if (error == 0) {
        error = MoveNoReplace(temp, to);
        if (error == 0) {
            if (deferChecks_ || NameIsStored(to)) {
                return {};
            }
            if (MoveNoReplace(to, temp) != 0) {
                return {EINVAL, to};
            }
            error = EINVAL;
        }
    }
    if (MoveNoReplace(temp, from) != 0) {
        return {error, temp};
    }
    return {error, {}};
}

int SafeMover::Exchange(const std::string& a, const std::string& b) {
    return fs_.Rename(a, b, RenameMode::kExchange);
}

std::string SafeMover::TempPath(const std::string& folder, const std::string& ext,
                                const std::unordered_set<std::string>* promised) {
    const std::u16string path =
        UniqueTempPath(DecodeFileName(folder), kTempPrefix, DecodeFileName(ext),
                       [&](const std::u16string& candidate) {
                           const std::string bytes = EncodeFileName(candidate);
                           // Anything but a clear "absent" keeps the name off limits.
                           return (promised != nullptr && promised->contains(bytes)) ||
                                  fs_.Lstat(bytes) != ENOENT;
                       },
                       &nextTemp_[folder]);
    return EncodeFileName(path);
}

std::string MoveFailureText(int error) {
    if (error == kNotThePlannedFile) {
        return "it is no longer the file the run set out to rename (replaced or changed "
               "meanwhile)";
    }
    if (error == kOtherVolume) {
        return "another volume is mounted at its folder now; the files were left alone";
    }
    return std::strerror(error);
}

bool SafeMover::FolderKeepsExactNames(std::string_view folder) {
    // Runs mostly stay in one folder; skip the map for a repeat.
    if (lastFolder_ && *lastFolder_ == folder) {
        return lastExact_;
    }
    auto it = exactFolders_.find(std::string(folder));
    if (it == exactFolders_.end()) {
        it = exactFolders_.emplace(std::string(folder), fs_.KeepsExactNames(std::string(folder)))
                 .first;
    }
    lastFolder_ = &it->first;
    lastExact_ = it->second;
    return lastExact_;
}

std::string AsciiLowered(std::string name) {
    for (char& c : name) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return name;
}

std::vector<std::size_t> SafeMover::NamesNotStored(std::span<const std::string_view> paths,
                                                   const std::function<bool(std::size_t)>& check) {
    std::unordered_map<std::string_view, std::vector<std::size_t>> byFolder;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (!check(i)) continue;
        const std::string_view folder = FolderView(paths[i]);
        if (!FolderKeepsExactNames(folder)) byFolder[folder].push_back(i);
    }
    std::vector<std::size_t> missing;
    std::unordered_set<std::string> listed;
    for (const auto& [folder, indexes] : byFolder) {
        // A folder that cannot be read confirms none of its names.
        listed.clear();
        if (fs_.ListNames(std::string(folder), names_) == 0) {
            for (std::string& name : names_)
                listed.insert(AsciiLowered(std::move(name)));
        }
        for (const std::size_t i : indexes) {
            if (!listed.contains(AsciiLowered(NameOf(paths[i])))) missing.push_back(i);
        }
    }
    std::sort(missing.begin(), missing.end());
    return missing;
}

bool SafeMover::NameIsStored(const std::string& path) {
    const std::string_view folder = FolderView(path);
    if (FolderKeepsExactNames(folder)) {
        return true;
    }
    // Reading the folder costs a pass over its entries, but only on volumes
    // that may store a different name than asked for.
    if (fs_.ListNames(std::string(folder), names_) != 0) {
        return false;
    }
    // Letter case is not compared: some volumes list every name in lower
    // case (lowntfs-3g -o ignore_case). A dropped or changed character shows.
    const std::string name = NameOf(path);
    for (const std::string& entry : names_) {
        if (AsciiEqualsNoCase(entry, name)) {
            return true;
        }
    }
    return false;
}

}  // namespace morix
