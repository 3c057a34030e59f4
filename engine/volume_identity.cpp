#include "engine/volume_identity.h"

#include <blkid/blkid.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>

#include "os/dir_stream.h"

namespace morix {
namespace {

struct Mount {
    std::string root;    // the part of the volume mounted
    std::string point;   // where
    std::string type;    // with its subtype, as the kernel names it
    std::string source;  // the device or image, as the mount was given it
};

// mountinfo escapes blanks and backslashes in paths as \ooo.
std::string Unescape(std::string_view field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            out += static_cast<char>(value);
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

bool IsInside(const std::string& path, const std::string& point) {
    return point == "/" ||
           (path.starts_with(point) && (path.size() == point.size() || path[point.size()] == '/'));
}

// The mount of device that holds path: of several (bind mounts), the one
// with the longest mount point above path.
bool FindMount(dev_t device, const std::string& path, Mount& found) {
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    bool any = false;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, parent, majorMinor, root, point;
        fields >> id >> parent >> majorMinor >> root >> point;
        unsigned major = 0, minor = 0;
        if (std::sscanf(majorMinor.c_str(), "%u:%u", &major, &minor) != 2 ||
            makedev(major, minor) != device) {
            continue;
        }
        std::string word, type, source;
        while (fields >> word && word != "-") {
        }
        fields >> type >> source;
        Mount mount{Unescape(root), Unescape(point), type, Unescape(source)};
        if (!IsInside(path, mount.point) || (any && mount.point.size() <= found.point.size())) {
            continue;
        }
        found = std::move(mount);
        any = true;
    }
    return any;
}

// The UUID of the file system on a device or image, by probing it. Needs
// read access; for other users the names udev keeps under /dev/disk serve.
std::string ProbeUuid(const std::string& source) {
    struct stat st;
    if (source.empty() || source.front() != '/' || stat(source.c_str(), &st) != 0 ||
        !(S_ISBLK(st.st_mode) || S_ISREG(st.st_mode))) {
        return {};
    }
    std::unique_ptr<blkid_struct_probe, decltype(&blkid_free_probe)> probe(
        blkid_new_probe_from_filename(source.c_str()), &blkid_free_probe);
    if (probe) {
        blkid_probe_enable_superblocks(probe.get(), 1);
        blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_UUID | BLKID_SUBLKS_TYPE);
        const char* uuid = nullptr;
        if (blkid_do_safeprobe(probe.get()) == 0 &&
            blkid_probe_lookup_value(probe.get(), "UUID", &uuid, nullptr) == 0 && uuid != nullptr) {
            return uuid;
        }
    }
    if (!S_ISBLK(st.st_mode)) {
        return {};
    }
    DirStream dir("/dev/disk/by-uuid");
    while (const dirent* entry = dir.Next()) {
        struct stat target;
        if (entry->d_name[0] != '.' && fstatat(dir.Fd(), entry->d_name, &target, 0) == 0 &&
            S_ISBLK(target.st_mode) && target.st_rdev == st.st_rdev) {
            return entry->d_name;
        }
    }
    return {};
}

// The mount that holds the folder open on folderFd.
bool MountOf(int folderFd, struct stat& st, Mount& mount) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", folderFd);
    char path[4096];
    const ssize_t length = readlink(link, path, sizeof path - 1);
    return fstat(folderFd, &st) == 0 && length > 0 &&
           FindMount(st.st_dev, std::string(path, static_cast<std::size_t>(length)), mount);
}

}  // namespace

std::string VolumeIdentity(int folderFd) {
    struct stat st;
    struct statfs fs;
    Mount mount;
    if (!MountOf(folderFd, st, mount) || fstatfs(folderFd, &fs) != 0) {
        return {};
    }
    std::string identity = "type=" + mount.type + " root=" + mount.root;
    if (const std::string uuid = ProbeUuid(mount.source); !uuid.empty()) {
        return identity + " uuid=" + uuid;
    }
    char rest[96];
    std::snprintf(rest, sizeof rest, " fsid=%x:%x dev=%u:%u",
                  static_cast<unsigned>(fs.f_fsid.__val[0]),
                  static_cast<unsigned>(fs.f_fsid.__val[1]), major(st.st_dev), minor(st.st_dev));
    return identity + rest;
}

std::string VolumeRootFolder(int folderFd) {
    struct stat st;
    Mount mount;
    return MountOf(folderFd, st, mount) && mount.root == "/" ? mount.point : std::string();
}

}  // namespace morix
