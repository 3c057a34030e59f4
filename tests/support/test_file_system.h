// A file system for tests: the real disk, optionally pretending to be a
// volume with fewer abilities, and able to fail any single call.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/file_system.h"

namespace morix::testing {

// The real disk, optionally pretending to be a volume with fewer abilities,
// counting calls and failing one chosen call (1-based) with failWith.
class TestFileSystem final : public FileSystem {
  public:
    bool noReplaceUnsupported = false;  // renameat2 flags answer EINVAL, as FUSE does
    bool linksRefused = false;          // link answers EPERM, as exFAT does
    bool namesUnchecked = false;        // KeepsExactNames always false
    bool inodesUnstable = false;        // KeepsInodeNumbers false, as on FAT and FUSE volumes
    bool dropsTrailingDots = false;     // a name's trailing dots are dropped when it is
                                        // stored and when it is looked up, as on vfat
    bool volumeSyncs = false;           // a folder's Sync flushes its whole volume, as on vfat
    std::uint64_t inodeShift = 0;       // added to every inode number: a volume mounted again
                                        // that numbers its files anew
    bool folderSyncFails = false;       // flushing a folder answers EIO; files still flush
    bool checksAhead = false;           // the run may look at files from another thread,
                                        // through a real file system: not counted, never
                                        // failed, inodeShift not applied
    long failAt = 0;                    // 0: never
    int failWith = EIO;                 // the error of the failing call
    long calls = 0;
    long renames = 0;
    long syncs = 0;
    long listings = 0;
    // Calls of VolumeOf, which may be asked from another thread.
    std::atomic<long> volumeLookups = 0;
    std::function<void()> onCall;                             // runs before every call
    std::function<void(const std::string& to)> beforeRename;  // runs before every rename
    std::function<void(const std::string& path)> onIdentify;  // runs before every Identify
    // Changes what Identify tells of path, as a volume with other times would.
    std::function<void(const std::string& path, FileIdentity&)> seenAs;
    std::string volumeRoot;  // what VolumeRoot answers for every folder; empty: the real one

    int Lstat(const std::string& path) override {
        if (Fails()) {
            return failWith;
        }
        return real_.Lstat(Stored(path));
    }
    int Rename(const std::string& from, const std::string& to, RenameMode mode) override {
        if (Fails()) {
            return failWith;
        }
        if (noReplaceUnsupported && mode != RenameMode::kPlain) {
            return EINVAL;
        }
        ++renames;
        if (beforeRename) {
            beforeRename(to);
        }
        return real_.Rename(Stored(from), Stored(to), mode);
    }
    int Link(const std::string& from, const std::string& to) override {
        if (Fails()) {
            return failWith;
        }
        if (linksRefused) {
            return EPERM;
        }
        return real_.Link(Stored(from), Stored(to));
    }
    int Unlink(const std::string& path) override {
        if (Fails()) {
            return failWith;
        }
        return real_.Unlink(Stored(path));
    }
    int Identify(const std::string& path, FileIdentity& identity) override {
        if (Fails()) {
            return failWith;
        }
        if (onIdentify) onIdentify(path);
        const int error = Shifted(real_.Identify(Stored(path), identity), identity);
        if (error == 0 && seenAs) seenAs(path, identity);
        return error;
    }
    int Reserve(const std::string& path, bool folder, FileIdentity& identity) override {
        if (Fails()) {
            return failWith;
        }
        return Shifted(real_.Reserve(Stored(path), folder, identity), identity);
    }
    int LockFolder(const std::string& folder, bool wait, UniqueFd& held) override {
        if (Fails()) {
            return failWith;
        }
        return real_.LockFolder(folder, wait, held);
    }
    int ListNames(const std::string& folder, std::vector<std::string>& names) override {
        if (Fails()) {
            return failWith;
        }
        ++listings;
        return real_.ListNames(folder, names);
    }
    bool KeepsExactNames(const std::string& folder) override {
        if (Fails()) {
            return false;
        }
        return !namesUnchecked && !dropsTrailingDots && real_.KeepsExactNames(folder);
    }
    bool KeepsInodeNumbers(const std::string& folder) override {
        if (Fails()) {
            return false;
        }
        return !inodesUnstable && real_.KeepsInodeNumbers(folder);
    }
    int OpenFolder(const std::string& folder, UniqueFd& fd) override {
        return Fails() ? failWith : real_.OpenFolder(folder, fd);
    }
    int OpenFile(const std::string& path, bool create, UniqueFd& fd) override {
        return Fails() ? failWith : real_.OpenFile(path, create, fd);
    }
    int LockFile(int fd) override { return Fails() ? failWith : real_.LockFile(fd); }
    int WriteAt(int fd, std::string_view data, std::uint64_t offset) override {
        return Fails() ? failWith : real_.WriteAt(fd, data, offset);
    }
    int ReadAll(int fd, std::string& text) override {
        return Fails() ? failWith : real_.ReadAll(fd, text);
    }
    int Sync(int fd, bool dataOnly) override {
        if (Fails()) {
            return failWith;
        }
        ++syncs;
        struct stat st{};
        if (folderSyncFails && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
            return EIO;
        }
        return real_.Sync(fd, dataOnly);
    }
    // A question about the volume, not a step that can fail: not counted.
    bool SyncFlushesVolume(int fd) override { return volumeSyncs || real_.SyncFlushesVolume(fd); }
    int IdentifyOpen(int fd, FileIdentity& identity) override {
        return Fails() ? failWith : Shifted(real_.IdentifyOpen(fd, identity), identity);
    }
    int UnlinkAt(int folderFd, const std::string& name) override {
        return Fails() ? failWith : real_.UnlinkAt(folderFd, name);
    }
    // Asked beside the other calls, on another thread: never failed, counted apart.
    int VolumeOf(const std::string& folder, std::string& volume) override {
        ++volumeLookups;
        return real_.VolumeOf(folder, volume);
    }
    int VolumeRoot(const std::string& folder, std::string& root) override {
        if (Fails()) return failWith;
        if (volumeRoot.empty()) return real_.VolumeRoot(folder, root);
        root = volumeRoot;
        return 0;
    }
    // Read beside the other calls too: never failed, not counted.
    int ReadAt(const std::string& path, std::initializer_list<FilePart> parts) override {
        return real_.ReadAt(path, parts);
    }
    int Trim(const std::string& path, std::uint64_t size, std::int64_t mtimeSec,
             std::uint32_t mtimeNsec) override {
        return Fails() ? failWith : real_.Trim(path, size, mtimeSec, mtimeNsec);
    }
    std::unique_ptr<FileSystem> ForAnotherThread() override {
        return checksAhead ? real_.ForAnotherThread() : nullptr;
    }

  private:
    // The path the volume keeps for path.
    std::string Stored(const std::string& path) const {
        if (!dropsTrailingDots) return path;
        std::string stored = path;
        while (stored.size() > 1 && stored.back() == '.' && stored[stored.size() - 2] != '/')
            stored.pop_back();
        return stored;
    }
    int Shifted(int error, FileIdentity& identity) const {
        identity.inode += inodeShift;
        return error;
    }
    bool Fails() {
        if (onCall) {
            onCall();
        }
        return ++calls == failAt;
    }
    RealFileSystem real_;
};

}  // namespace morix::testing
