#include "engine/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

namespace morix {
namespace {

int Result(int rc) {
    return rc == 0 ? 0 : errno;
}

constexpr long kXfsMagic = 0x58465342;  // "XFSB"

}  // namespace

RealFileSystem::~RealFileSystem() {
    if (folderFd_ >= 0) {
        close(folderFd_);
    }
}

RealFileSystem::Place RealFileSystem::At(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return {AT_FDCWD, path.c_str()};
    }
    const std::string_view folder(path.data(), slash == 0 ? 1 : slash);
    if (folderFd_ < 0 || folder != folder_) {
        if (folderFd_ >= 0) {
            close(folderFd_);
        }
        folder_.assign(folder);
        folderFd_ = open(folder_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (folderFd_ < 0) {
            return {AT_FDCWD, path.c_str()};
        }
    }
    return {folderFd_, path.c_str() + slash + 1};
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
    return Result(unlinkat(p.dirFd, p.name, 0));
}

int RealFileSystem::ListNames(const std::string& folder, std::vector<std::string>& names) {
    names.clear();
    DIR* dir = opendir(folder.empty() ? "/" : folder.c_str());
    if (dir == nullptr) {
        return errno;
    }
    errno = 0;
    while (const dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            names.emplace_back(entry->d_name);
        }
        errno = 0;
    }
    const int error = errno;
    closedir(dir);
    return error;
}

bool RealFileSystem::KeepsExactNames(const std::string& folder) {
    const char* path = folder.empty() ? "/" : folder.c_str();
    struct statfs fs;
    if (statfs(path, &fs) != 0) {
        return false;
    }
    switch (static_cast<long>(fs.f_type)) {
        case TMPFS_MAGIC:
        case EXT4_SUPER_MAGIC:  // also ext2 and ext3
        case BTRFS_SUPER_MAGIC:
        case kXfsMagic:
            break;
        default:
            return false;  // vfat, exfat, ntfs3, FUSE, network volumes, ...
    }
    // ext4 and tmpfs can fold case per folder.
    const int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    int attributes = 0;
    const bool casefold =
        ioctl(fd, FS_IOC_GETFLAGS, &attributes) == 0 && (attributes & FS_CASEFOLD_FL) != 0;
    close(fd);
    return !casefold;
}

}  // namespace morix
