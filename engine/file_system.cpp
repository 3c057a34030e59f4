#include "engine/file_system.h"

#include "engine/parallel.h"
#include "engine/volume_identity.h"
#include "os/dir_stream.h"
#include "os/file_lock.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <string_view>

namespace morix {
namespace {

int Result(int rc) {
    return rc == 0 ? 0 : errno;
}

constexpr long kXfsMagic = 0x58465342;  // "XFSB"
constexpr long kF2fsMagic = 0xF2F52010;
constexpr unsigned kIdentityMask =
    STATX_TYPE | STATX_INO | STATX_SIZE | STATX_MTIME | STATX_BTIME | STATX_NLINK;

void FillIdentity(const struct statx& st, FileIdentity& identity) {
    identity.device = makedev(st.stx_dev_major, st.stx_dev_minor);
    identity.inode = st.stx_ino;
    identity.size = st.stx_size;
    identity.mtimeSec = st.stx_mtime.tv_sec;
    identity.mtimeNsec = st.stx_mtime.tv_nsec;
    identity.btimeSec = (st.stx_mask & STATX_BTIME) != 0 ? st.stx_btime.tv_sec : kNoBirthTime;
    identity.btimeNsec = (st.stx_mask & STATX_BTIME) != 0 ? st.stx_btime.tv_nsec : 0;
    identity.links = st.stx_nlink;
    identity.folder = S_ISDIR(st.stx_mode);
}

}  // namespace

namespace {

// A folder's size and time change with its entries: they tell nothing.
bool SameContent(const FileIdentity& expected, const FileIdentity& now) {
    return expected.folder || (expected.size == now.size && expected.mtimeSec == now.mtimeSec &&
                               expected.mtimeNsec == now.mtimeNsec);
}

}  // namespace

bool SameFile(const FileIdentity& expected, const FileIdentity& now, bool stableInodes) {
    if (expected.folder != now.folder) {
        return false;
    }
    if (stableInodes) {
        return expected.device == now.device && expected.inode == now.inode &&
               (expected.btimeSec == kNoBirthTime || now.btimeSec == kNoBirthTime ||
                (expected.btimeSec == now.btimeSec && expected.btimeNsec == now.btimeNsec));
    }
    return SameContent(expected, now);
}

bool SameFileAndContent(const FileIdentity& expected, const FileIdentity& now, bool stableInodes) {
    return SameFile(expected, now, stableInodes) && SameContent(expected, now);
}

bool TypeKeepsInodeNumbers(long filesystemType) {
    switch (filesystemType) {
        case TMPFS_MAGIC:
        case EXT4_SUPER_MAGIC:
        case BTRFS_SUPER_MAGIC:
        case kXfsMagic:
        case kF2fsMagic:
            return true;
        default:
            return false;
    }
}

RealFileSystem::Place RealFileSystem::At(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return {AT_FDCWD, path.c_str()};
    }
    const int fd = folder_.Open(std::string_view(path.data(), slash == 0 ? 1 : slash));
    if (fd < 0) {
        return {AT_FDCWD, path.c_str()};
    }
    return {fd, path.c_str() + slash + 1};
}

void RealFileSystem::At(const std::string& a, const std::string& b, Place& pa, Place& pb) {
    const std::size_t slash = a.rfind('/');
    if (slash == std::string::npos || b.rfind('/') != slash ||
        a.compare(0, slash, b, 0, slash) != 0) {
        pa = {AT_FDCWD, a.c_str()};
        pb = {AT_FDCWD, b.c_str()};
        return;
    }
    pa = At(a);
    pb = {pa.dirFd, pa.dirFd == AT_FDCWD ? b.c_str() : b.c_str() + slash + 1};
}

int RealFileSystem::Lstat(const std::string& path) {
    struct stat st;
    const Place p = At(path);
    return Result(fstatat(p.dirFd, p.name, &st, AT_SYMLINK_NOFOLLOW));
}

int RealFileSystem::Rename(const std::string& from, const std::string& to, RenameMode mode) {
    unsigned flags = 0;
    if (mode == RenameMode::kNoReplace) {
        flags = RENAME_NOREPLACE;
    } else if (mode == RenameMode::kExchange) {
        flags = RENAME_EXCHANGE;
    }
    Place a, b;
    At(from, to, a, b);
    return Result(renameat2(a.dirFd, a.name, b.dirFd, b.name, flags));
}

int RealFileSystem::Link(const std::string& from, const std::string& to) {
    // Without AT_SYMLINK_FOLLOW a symbolic link is linked itself, not its target.
    Place a, b;
    At(from, to, a, b);
    return Result(linkat(a.dirFd, a.name, b.dirFd, b.name, 0));
}

int RealFileSystem::Unlink(const std::string& path) {
    const Place p = At(path);
    const int error = Result(unlinkat(p.dirFd, p.name, 0));
    return error == EISDIR ? Result(unlinkat(p.dirFd, p.name, AT_REMOVEDIR)) : error;
}

int RealFileSystem::Identify(const std::string& path, FileIdentity& identity) {
    const Place p = At(path);
    struct statx st;
    const int error = Result(statx(p.dirFd, p.name, AT_SYMLINK_NOFOLLOW, kIdentityMask, &st));
    if (error == 0) {
        FillIdentity(st, identity);
    }
    return error;
}

void RealFileSystem::IdentifyAll(std::span<const std::string_view> paths,
                                 std::vector<FileIdentity>& identities, std::vector<int>& errors) {
    identities.resize(paths.size());
    errors.resize(paths.size());
    ParallelFor(paths.size(), [&](std::size_t begin, std::size_t end) {
        RealFileSystem slice;  // a folder kept open per thread, as ForAnotherThread gives
        std::string path;
        for (std::size_t i = begin; i < end; ++i) {
            path.assign(paths[i]);
            errors[i] = path.empty() ? 0 : slice.Identify(path, identities[i]);
        }
    });
}

int RealFileSystem::Reserve(const std::string& path, bool folder, FileIdentity& identity) {
    const Place p = At(path);
    UniqueFd fd;
    if (!folder) {
        fd.Reset(openat(p.dirFd, p.name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        0600));
    }
    if (folder ? mkdirat(p.dirFd, p.name, 0700) != 0 : !fd.Valid()) {
        return errno;
    }
    struct statx st;
    const int error =
        Result(fd.Valid() ? statx(fd.Get(), "", AT_EMPTY_PATH, kIdentityMask, &st)
                          : statx(p.dirFd, p.name, AT_SYMLINK_NOFOLLOW, kIdentityMask, &st));
    fd.Reset();
    if (error != 0) {
        // Not known, so never to be recognised as ours: gone again.
        unlinkat(p.dirFd, p.name, folder ? AT_REMOVEDIR : 0);
        return error;
    }
    FillIdentity(st, identity);
    return 0;
}

int RealFileSystem::LockFolder(const std::string& folder, bool wait, UniqueFd& held) {
    UniqueFd fd(open(folder.empty() ? "/" : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.Valid()) {
        return errno;
    }
    if (const int error = morix::LockFile(fd.Get(), wait); error != 0) {
        held.Reset();
        return error == EWOULDBLOCK ? EWOULDBLOCK : 0;  // else a volume without locks
    }
    held = std::move(fd);
    return 0;
}

int RealFileSystem::ListNames(const std::string& folder, std::vector<std::string>& names) {
    names.clear();
    DirStream dir(folder);
    while (const dirent* entry = dir.Next())
        names.emplace_back(entry->d_name);
    return dir.Error();
}

int FileSystem::ForEachName(const std::string& folder,
                            const std::function<bool(std::string_view)>& onName) {
    std::vector<std::string> names;
    const int error = ListNames(folder, names);
    for (const std::string& name : names) {
        if (error != 0 || !onName(name)) break;
    }
    return error;
}

int RealFileSystem::ForEachName(const std::string& folder,
                                const std::function<bool(std::string_view)>& onName) {
    DirStream dir(folder);
    while (const dirent* entry = dir.Next()) {
        if (!onName(entry->d_name)) return 0;
    }
    return dir.Error();
}

bool RealFileSystem::KeepsInodeNumbers(const std::string& folder) {
    struct statfs fs;
    return statfs(folder.empty() ? "/" : folder.c_str(), &fs) == 0 &&
           TypeKeepsInodeNumbers(static_cast<long>(fs.f_type));
}

bool RealFileSystem::KeepsExactNames(const std::string& folder) {
    const char* path = folder.empty() ? "/" : folder.c_str();
    struct statfs fs;
    if (statfs(path, &fs) != 0) {
        return false;
    }
    if (!TypeKeepsInodeNumbers(static_cast<long>(fs.f_type)) ||
        static_cast<long>(fs.f_type) == kF2fsMagic) {
        return false;  // vfat, exfat, ntfs3, FUSE, network volumes, ...
    }
    // ext4 and tmpfs can fold case per folder.
    const UniqueFd fd(open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.Valid()) {
        return false;
    }
    int attributes = 0;
    return !(ioctl(fd.Get(), FS_IOC_GETFLAGS, &attributes) == 0 &&
             (attributes & FS_CASEFOLD_FL) != 0);
}

int RealFileSystem::OpenFolder(const std::string& folder, UniqueFd& fd) {
    fd.Reset(open(folder.empty() ? "/" : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.Valid() ? 0 : errno;
}

int RealFileSystem::OpenFile(const std::string& path, bool create, UniqueFd& fd) {
    fd.Reset(create ? open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600)
                    : open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    return fd.Valid() ? 0 : errno;
}

int RealFileSystem::LockFile(int fd) {
    return morix::LockFile(fd, false);
}

int RealFileSystem::WriteAt(int fd, std::string_view data, std::uint64_t offset) {
    while (!data.empty()) {
        const ssize_t n = pwrite(fd, data.data(), data.size(), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        data.remove_prefix(static_cast<std::size_t>(n));
        offset += static_cast<std::uint64_t>(n);
    }
    return 0;
}

int RealFileSystem::ReadAll(int fd, std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n =
            pread(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : ENODATA;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

int RealFileSystem::Sync(int fd, bool dataOnly) {
    // On vfat a renamed file's entry gets its size and first cluster only
    // when the file itself is written back, not with its folder: a folder
    // flushed alone can come back after a power cut with every file renamed
    // into it empty, and fsck frees their data. The whole volume goes first.
    if (!dataOnly && SyncFlushesVolume(fd) && syncfs(fd) != 0) return errno;
    return Result(dataOnly ? fdatasync(fd) : fsync(fd));
}

bool RealFileSystem::SyncFlushesVolume(int fd) {
    struct statfs volume;
    struct stat st;
    return fstatfs(fd, &volume) == 0 && volume.f_type == MSDOS_SUPER_MAGIC && fstat(fd, &st) == 0 &&
           S_ISDIR(st.st_mode);
}

int RealFileSystem::IdentifyOpen(int fd, FileIdentity& identity) {
    struct statx st;
    const int error = Result(statx(fd, "", AT_EMPTY_PATH, kIdentityMask, &st));
    if (error == 0) FillIdentity(st, identity);
    return error;
}

int RealFileSystem::UnlinkAt(int folderFd, const std::string& name) {
    return Result(unlinkat(folderFd, name.c_str(), 0));
}

int RealFileSystem::VolumeOf(const std::string& folder, std::string& volume) {
    UniqueFd fd;
    if (const int error = OpenFolder(folder, fd); error != 0) return error;
    volume = VolumeIdentity(fd.Get());
    return 0;
}

int RealFileSystem::VolumeRoot(const std::string& folder, std::string& root) {
    UniqueFd fd;
    if (const int error = OpenFolder(folder, fd); error != 0) return error;
    root = VolumeRootFolder(fd.Get());
    return root.empty() ? ENOENT : 0;
}

int RealFileSystem::ReadAt(const std::string& path, std::initializer_list<FilePart> parts) {
    // Never through a link, and never waiting on a pipe someone named so.
    const UniqueFd fd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) return errno;
    struct stat st;
    if (fstat(fd.Get(), &st) != 0) return errno;
    if (!S_ISREG(st.st_mode)) return EINVAL;
    for (const FilePart& part : parts) {
        std::string& bytes = part.bytes;
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = pread(fd.Get(), bytes.data() + done, bytes.size() - done,
                                    static_cast<off_t>(part.offset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return n < 0 ? errno : ENODATA;
            done += static_cast<std::size_t>(n);
        }
    }
    return 0;
}

int RealFileSystem::Trim(const std::string& path, std::uint64_t size, std::int64_t mtimeSec,
                         std::uint32_t mtimeNsec) {
    const UniqueFd fd(open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) return errno;
    const struct timespec times[2] = {
        {0, UTIME_OMIT}, {static_cast<time_t>(mtimeSec), static_cast<long>(mtimeNsec)}};
    if (ftruncate(fd.Get(), static_cast<off_t>(size)) != 0 || futimens(fd.Get(), times) != 0)
        return errno;
    return 0;
}

std::unique_ptr<FileSystem> RealFileSystem::ForAnotherThread() {
    return std::make_unique<RealFileSystem>();
}

}  // namespace morix
