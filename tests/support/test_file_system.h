// A file system for tests: the real disk, optionally pretending to be a
// volume with fewer abilities, and able to fail any single call.
#pragma once

#include <cerrno>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/file_system.h"

namespace morix::testing {

// The real disk, optionally pretending to be a volume with fewer abilities,
// counting calls and failing one chosen call (1-based) with EIO.
class TestFileSystem final : public FileSystem {
  public:
    bool noReplaceUnsupported = false;  // renameat2 flags answer EINVAL, as FUSE does
    bool linksRefused = false;          // link answers EPERM, as exFAT does
    bool namesUnchecked = false;        // KeepsExactNames always false
    bool inodesUnstable = false;        // KeepsInodeNumbers false, as on FAT and FUSE volumes
    std::uint64_t inodeShift = 0;       // added to every inode number: a volume mounted again
                                        // that numbers its files anew
    long failAt = 0;                    // 0: never
    long calls = 0;
    long renames = 0;
    std::function<void()> onCall;                             // runs before every call
    std::function<void(const std::string& to)> beforeRename;  // runs before every rename

    int Lstat(const std::string& path) override {
        if (Fails()) {
            return EIO;
        }
        return real_.Lstat(path);
    }
    int Rename(const std::string& from, const std::string& to, RenameMode mode) override {
        if (Fails()) {
            return EIO;
        }
        if (noReplaceUnsupported && mode != RenameMode::kPlain) {
            return EINVAL;
        }
        ++renames;
        if (beforeRename) {
            beforeRename(to);
        }
        return real_.Rename(from, to, mode);
    }
    int Link(const std::string& from, const std::string& to) override {
        if (Fails()) {
            return EIO;
        }
        if (linksRefused) {
            return EPERM;
        }
        return real_.Link(from, to);
    }
    int Unlink(const std::string& path) override {
        if (Fails()) {
            return EIO;
        }
        return real_.Unlink(path);
    }
    int Identify(const std::string& path, FileIdentity& identity) override {
        if (Fails()) {
            return EIO;
        }
        return Shifted(real_.Identify(path, identity), identity);
    }
    int Reserve(const std::string& path, bool folder, FileIdentity& identity) override {
        if (Fails()) {
            return EIO;
        }
        return Shifted(real_.Reserve(path, folder, identity), identity);
    }
    int LockFolder(const std::string& folder, bool wait, UniqueFd& held) override {
        if (Fails()) {
            return EIO;
        }
        return real_.LockFolder(folder, wait, held);
    }
    int ListNames(const std::string& folder, std::vector<std::string>& names) override {
        if (Fails()) {
            return EIO;
        }
        return real_.ListNames(folder, names);
    }
    bool KeepsExactNames(const std::string& folder) override {
        if (Fails()) {
            return false;
        }
        return !namesUnchecked && real_.KeepsExactNames(folder);
    }
    bool KeepsInodeNumbers(const std::string& folder) override {
        if (Fails()) {
            return false;
        }
        return !inodesUnstable && real_.KeepsInodeNumbers(folder);
    }

  private:
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
