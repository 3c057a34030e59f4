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

int RealFileSystem::Lstat(const std::string& path) {
    struct stat st;
    return Result(lstat(path.c_str(), &st));
}

int RealFileSystem::Rename(const std::string& from, const std::string& to, RenameMode mode) {
    unsigned flags = 0;
    if (mode == RenameMode::kNoReplace) {
        flags = RENAME_NOREPLACE;
    } else if (mode == RenameMode::kExchange) {
        flags = RENAME_EXCHANGE;
    }
    return Result(renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), flags));
}

int RealFileSystem::Link(const std::string& from, const std::string& to) {
    // Without AT_SYMLINK_FOLLOW a symbolic link is linked itself, not its target.
    return Result(linkat(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), 0));
}

int RealFileSystem::Unlink(const std::string& path) {
    return Result(unlink(path.c_str()));
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
