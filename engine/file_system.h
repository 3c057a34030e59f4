// The file-system calls of a rename run, behind one small interface so that
// tests can make any single call fail. Paths are file-name bytes. Every call
// returns 0 on success or the errno value of the failure.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "os/held_folder.h"
#include "os/unique_fd.h"

namespace morix {

inline constexpr std::int64_t kNoBirthTime = INT64_MIN;

// What a name points at, as far as the volume tells: enough to recognise the
// file again later, and to notice that another file took its name.
struct FileIdentity {
    // Wide fields first: one per file of a run, so padding costs memory.
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t mtimeSec = 0;
    std::int64_t btimeSec = kNoBirthTime;  // kNoBirthTime where the volume keeps none
    std::uint32_t mtimeNsec = 0;
    std::uint32_t btimeNsec = 0;
    std::uint32_t links = 0;  // names of the file; not part of who it is
    bool folder = false;
};

// Whether now is still the file that was seen as expected. With
// stableInodes, device and inode number decide (birth time too, where both
// know it, as inode numbers are given out again); elsewhere the number means
// nothing across a remount or a dropped cache and only the kind, size and
// modification time are compared. A folder's size and time change with its
// entries, so a folder is only ever recognised by its number.
bool SameFile(const FileIdentity& expected, const FileIdentity& now, bool stableInodes);

// As SameFile, and for a file also its size and modification time: the test
// recovery applies before it moves anything it did not see moving itself.
bool SameFileAndContent(const FileIdentity& expected, const FileIdentity& now, bool stableInodes);

// Whether the volume of a folder keeps a file's inode number for as long as
// the file exists (ext4, xfs, btrfs, tmpfs, f2fs). FAT, exFAT and FUSE volumes
// make numbers up in memory.
bool TypeKeepsInodeNumbers(long filesystemType);

enum class RenameMode {
    kNoReplace,  // fail with EEXIST when the target exists
    kExchange,   // swap two existing names atomically
    kPlain,      // replaces an existing target: only behind an existence check
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // 0 when something occupies path (not following a final symbolic link).
    virtual int Lstat(const std::string& path) = 0;
    virtual int Rename(const std::string& from, const std::string& to, RenameMode mode) = 0;
    // A hard link to from under the name to; never replaces to.
    virtual int Link(const std::string& from, const std::string& to) = 0;
    // Removes a name; an empty folder too.
    virtual int Unlink(const std::string& path) = 0;
    // Who path is now (not following a final symbolic link).
    virtual int Identify(const std::string& path, FileIdentity& identity) = 0;
    // Identify for many paths at once (an empty path is skipped); errors[i]
    // is 0 or the errno value for paths[i]. The work may be spread over cores.
    virtual void IdentifyAll(std::span<const std::string_view> paths,
                             std::vector<FileIdentity>& identities, std::vector<int>& errors) {
        identities.resize(paths.size());
        errors.resize(paths.size());
        std::string path;
        for (std::size_t i = 0; i < paths.size(); ++i) {
            path.assign(paths[i]);
            errors[i] = path.empty() ? 0 : Identify(path, identities[i]);
        }
    }
    // Creates an empty file (or folder) at path, failing with EEXIST when the
    // name is taken, and says who it is: a name held until a move takes it.
    virtual int Reserve(const std::string& path, bool folder, FileIdentity& identity) = 0;
    // Takes the lock that every rename run and recovery holds on a folder it
    // renames in, waiting for it when wait is set (EWOULDBLOCK otherwise).
    // The lock lasts as long as held; held stays empty, with 0 returned,
    // where the volume cannot lock at all.
    virtual int LockFolder(const std::string& folder, bool wait, UniqueFd& held) = 0;
    // The names of the entries of folder, exactly as stored, without "." and "..".
    virtual int ListNames(const std::string& folder, std::vector<std::string>& names) = 0;
    // The same names one by one, none kept: onName sees each until it returns
    // false. 0 or an errno value.
    virtual int ForEachName(const std::string& folder,
                            const std::function<bool(std::string_view)>& onName);
    // True when the volume of folder is known to store and look up every name
    // byte for byte (no case folding, no dropped trailing dots), so a move
    // needs no check of the stored name afterwards. False when unsure.
    virtual bool KeepsExactNames(const std::string& folder) = 0;
    // Whether the volume of folder keeps inode numbers; see TypeKeepsInodeNumbers.
    virtual bool KeepsInodeNumbers(const std::string& folder) = 0;

    // The run's own record (its journal) is written and read through these,
    // so a full disk or a failing flush can be tried at each of its steps.
    // Opens a folder, to flush its entries or to name files relative to it.
    virtual int OpenFolder(const std::string& folder, UniqueFd& fd) = 0;
    // With create, a new file for writing (EEXIST when the name is taken);
    // else an existing file for reading and writing. Never through a final
    // symbolic link.
    virtual int OpenFile(const std::string& path, bool create, UniqueFd& fd) = 0;
    // Locks an open file for as long as it stays open; EWOULDBLOCK when
    // another holds it.
    virtual int LockFile(int fd) = 0;
    // Writes all of data at offset; a short write is EIO.
    virtual int WriteAt(int fd, std::string_view data, std::uint64_t offset) = 0;
    // Fills text (sized by the caller) from the start of the file; ENODATA
    // when the file ends before.
    virtual int ReadAll(int fd, std::string& text) = 0;
    // Makes what was written to fd durable: the data (and, unless dataOnly,
    // every attribute); for a folder, its entries with what they say of
    // their files (on vfat, by flushing the whole volume).
    virtual int Sync(int fd, bool dataOnly) = 0;
    // True when Sync of the folder open on fd flushes its whole volume (as
    // on vfat): that one flush then stands for every folder on the volume.
    virtual bool SyncFlushesVolume(int fd) = 0;
    // Who the file open on fd is.
    virtual int IdentifyOpen(int fd, FileIdentity& identity) = 0;
    // Removes name from the folder open on folderFd.
    virtual int UnlinkAt(int folderFd, const std::string& name) = 0;
    // What identifies the volume that folder is on (see VolumeIdentity). It
    // only reads, and may be asked beside other calls (on another thread).
    virtual int VolumeOf(const std::string& folder, std::string& volume) = 0;
    // Where the root of folder's volume is mounted, when the whole volume is
    // mounted (ENOENT when only a part of it is).
    virtual int VolumeRoot(const std::string& folder, std::string& root) = 0;
    // A part of a file to read: bytes.size() bytes from offset.
    struct FilePart {
        std::uint64_t offset;
        std::string& bytes;
    };
    // Reads the parts of the file at path, opened once; ENODATA when the
    // file ends before one, EINVAL when path is not a regular file. It only
    // reads, by the whole path, and may be asked beside other calls (on
    // another thread).
    virtual int ReadAt(const std::string& path, std::initializer_list<FilePart> parts) = 0;
    // Cuts the file at path to size and sets its modification time.
    virtual int Trim(const std::string& path, std::uint64_t size, std::int64_t mtimeSec,
                     std::uint32_t mtimeNsec) = 0;

    // An instance of the same file system for another thread, sharing no
    // state with this one, or null when every call has to stay on the
    // caller's thread (and in the caller's order).
    virtual std::unique_ptr<FileSystem> ForAnotherThread() { return nullptr; }
};

// The running system's file system. Calls name files relative to their
// folder, kept open from one call to the next: runs stay in few folders, and
// the kernel then looks up one name instead of a whole path.
class RealFileSystem final : public FileSystem {
  public:
    RealFileSystem() = default;
    RealFileSystem(const RealFileSystem&) = delete;
    RealFileSystem& operator=(const RealFileSystem&) = delete;

    int Lstat(const std::string& path) override;
    int Rename(const std::string& from, const std::string& to, RenameMode mode) override;
    int Link(const std::string& from, const std::string& to) override;
    int Unlink(const std::string& path) override;
    int Identify(const std::string& path, FileIdentity& identity) override;
    void IdentifyAll(std::span<const std::string_view> paths,
                     std::vector<FileIdentity>& identities, std::vector<int>& errors) override;
    int Reserve(const std::string& path, bool folder, FileIdentity& identity) override;
    int LockFolder(const std::string& folder, bool wait, UniqueFd& held) override;
    int ListNames(const std::string& folder, std::vector<std::string>& names) override;
    int ForEachName(const std::string& folder,
                    const std::function<bool(std::string_view)>& onName) override;
    bool KeepsExactNames(const std::string& folder) override;
    bool KeepsInodeNumbers(const std::string& folder) override;
    int OpenFolder(const std::string& folder, UniqueFd& fd) override;
    int OpenFile(const std::string& path, bool create, UniqueFd& fd) override;
    int LockFile(int fd) override;
    int WriteAt(int fd, std::string_view data, std::uint64_t offset) override;
    int ReadAll(int fd, std::string& text) override;
    int Sync(int fd, bool dataOnly) override;
    bool SyncFlushesVolume(int fd) override;
    int IdentifyOpen(int fd, FileIdentity& identity) override;
    int UnlinkAt(int folderFd, const std::string& name) override;
    int VolumeOf(const std::string& folder, std::string& volume) override;
    int VolumeRoot(const std::string& folder, std::string& root) override;
    int ReadAt(const std::string& path, std::initializer_list<FilePart> parts) override;
    int Trim(const std::string& path, std::uint64_t size, std::int64_t mtimeSec,
             std::uint32_t mtimeNsec) override;
    std::unique_ptr<FileSystem> ForAnotherThread() override;

  private:
    struct Place {
        int dirFd;         // AT_FDCWD when the path is used whole
        const char* name;  // relative to dirFd
    };
    // Where path is, as a descriptor of its folder and its name there.
    Place At(const std::string& path);
    // The same for two paths: relative to one folder when both are in it,
    // else both whole.
    void At(const std::string& a, const std::string& b, Place& pa, Place& pb);

    HeldFolder folder_;
};

}  // namespace morix
