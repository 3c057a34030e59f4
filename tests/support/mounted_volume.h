// Real volumes for tests: a freshly formatted 16 MB image on a loop device
// (ext4, exFAT through exfat-fuse, NTFS through ntfs-3g or lowntfs-3g) or a
// tmpfs, mounted in a temporary folder and unmounted and removed again in
// any case. Needs root (and /dev/fuse for the FUSE kinds); where anything is
// missing, ok() is false and why() says what.
//
// A volume can be unmounted and mounted again (same image, same loop
// device, same mount point), and further images of the same kind can be
// formatted and mounted in place of the first, on the same loop device at
// the same mount point.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace morix::testing {

// Runs a shell command quietly; true when it exited with status 0.
inline bool Shell(const std::string& command) {
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// What a shell command printed on stdout, without the final line ends.
inline std::string ShellOutput(const std::string& command) {
    std::string text;
    if (FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, pipe)) {
            text += buffer;
        }
        pclose(pipe);
    }
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

// Whether a program is found on PATH.
inline bool HaveTool(const std::string& tool) {
    return Shell("command -v " + tool);
}

// Writes dirty data out and makes the kernel forget its cached dentries and
// inodes (FUSE volumes hand out new inode numbers afterwards).
inline bool DropCaches() {
    return Shell("sync && echo 3 > /proc/sys/vm/drop_caches");
}

inline void Nap(int milliseconds) {
    const timespec ts{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    nanosleep(&ts, nullptr);
}

class MountedVolume {
  public:
    // kind: "ext4", "tmpfs", "exfat" or "ntfs". For NTFS, driver names the
    // FUSE program ("ntfs-3g" or "lowntfs-3g"); options are passed with -o.
    explicit MountedVolume(std::string kind, std::string options = {},
                           std::string driver = "ntfs-3g")
        : kind_(std::move(kind)), options_(std::move(options)), driver_(std::move(driver)) {
        if (geteuid() != 0) {
            why_ = "needs root";
            return;
        }
        mountPoint_ = work_.MakeFolder("mnt");
        if (kind_ == "tmpfs") {
            if (!Shell("mount -t tmpfs -o size=16m tmpfs " + mountPoint_)) {
                why_ = "cannot mount a tmpfs";
                return;
            }
            mounted_ = true;
            return;
        }
        if (kind_ != "ext4" && access("/dev/fuse", R_OK | W_OK) != 0) {
            why_ = "needs /dev/fuse";
            return;
        }
        if (AddImage() != 0) return;
        loop_ = ShellOutput("losetup --find --show " + images_[0]);
        if (loop_.empty()) {
            why_ = "cannot attach a loop device (package util-linux)";
            return;
        }
        if (!Mount()) {
            why_ = "cannot mount " + kind_ + " through " + loop_ + " (" + Package() + ")";
        }
    }

    ~MountedVolume() {
        if (mounted_) Unmount();
        if (!loop_.empty()) Shell("losetup -d " + loop_);
    }

    MountedVolume(const MountedVolume&) = delete;
    MountedVolume& operator=(const MountedVolume&) = delete;

    bool ok() const { return mounted_ && why_.empty(); }
    const std::string& why() const { return why_; }
    const std::string& kind() const { return kind_; }
    const std::string& MountPoint() const { return mountPoint_; }
    std::string Path(const std::string& name) const { return mountPoint_ + "/" + name; }
    bool Fuse() const { return kind_ == "exfat" || kind_ == "ntfs"; }
    int CurrentImage() const { return current_; }

    // The device number files on the mounted volume have (st_dev).
    dev_t Device() const {
        struct stat st;
        return stat(mountPoint_.c_str(), &st) == 0 ? st.st_dev : 0;
    }

    // Formats one more image of the same kind; its number for UseImage(), or
    // -1 (with why() set) when it cannot be made.
    int AddImage() {
        if (kind_ == "tmpfs") {
            why_ = "a tmpfs has no image";
            return -1;
        }
        const std::string image = work_.Path("volume" + std::to_string(images_.size()) + ".img");
        if (!Shell("truncate -s 16M " + image)) {
            why_ = "cannot make an image file";
            return -1;
        }
        std::string format;
        if (kind_ == "ext4") {
            format = "mkfs.ext4 -q -F " + image;
        } else if (kind_ == "exfat") {
            format = "mkfs.exfat " + image;
        } else if (kind_ == "ntfs") {
            format = "mkntfs -F -Q " + image;
        } else {
            why_ = "unknown volume kind " + kind_;
            return -1;
        }
        if (!Shell(format)) {
            why_ = "cannot format " + kind_ + " (" + Package() + ")";
            return -1;
        }
        images_.push_back(image);
        return static_cast<int>(images_.size()) - 1;
    }

    // Mounts the current image (the loop device as it is) at the mount
    // point with the volume's options.
    bool Mount() { return MountWith(options_); }

    // The same with other options (none when empty).
    bool MountWith(const std::string& options) {
        if (mounted_) return true;
        const std::string withOptions = options.empty() ? "" : " -o " + options;
        std::string command;
        if (kind_ == "ext4") {
            command = "mount -t ext4" + withOptions + " " + loop_ + " " + mountPoint_;
        } else if (kind_ == "exfat") {
            command = "mount.exfat-fuse" + withOptions + " " + loop_ + " " + mountPoint_;
        } else if (kind_ == "ntfs") {
            command = driver_ + withOptions + " " + loop_ + " " + mountPoint_;
        } else if (kind_ == "tmpfs") {
            command = "mount -t tmpfs -o size=16m tmpfs " + mountPoint_;
        }
        // The daemon of a FUSE volume just unmounted may still hold the
        // device for a moment.
        for (int attempt = 0; attempt < 50 && !mounted_; ++attempt) {
            mounted_ = Shell(command);
            if (!mounted_) Nap(100);
        }
        return mounted_;
    }

    bool Unmount() {
        if (!mounted_) return true;
        for (int attempt = 0; attempt < 50 && mounted_; ++attempt) {
            mounted_ = !Shell("umount " + mountPoint_);
            if (mounted_) Nap(100);
        }
        if (!mounted_ && Fuse()) WaitForDaemonToEnd();
        return !mounted_;
    }

    // The same image again, through the same loop device at the same place.
    bool Remount() { return Unmount() && Mount(); }

    // Unmounts, puts another image of this volume on the same loop device
    // and mounts it at the same place. False (with why() set) when the loop
    // device was taken by someone else meanwhile or anything else failed.
    bool UseImage(int image) {
        if (image < 0 || image >= static_cast<int>(images_.size()) || !Unmount()) {
            why_ = "cannot unmount or no such image";
            return false;
        }
        bool attached = false;
        for (int attempt = 0; attempt < 50 && !attached; ++attempt) {
            Shell("losetup -d " + loop_);
            attached = Shell("losetup " + loop_ + " " + images_[image]);
            if (!attached) Nap(100);
        }
        if (!attached) {
            why_ = "cannot put image " + std::to_string(image) + " on " + loop_;
            loop_.clear();
            return false;
        }
        current_ = image;
        return Mount();
    }

    // Removes everything inside the mount point.
    void Clear() const {
        for (const auto& entry : std::filesystem::directory_iterator(mountPoint_)) {
            if (entry.path().filename() == "lost+found") continue;
            std::filesystem::remove_all(entry.path());
        }
    }

  private:
    std::string Package() const {
        if (kind_ == "ext4") return "package e2fsprogs";
        if (kind_ == "exfat") return "packages exfatprogs and exfat-fuse";
        return "package ntfs-3g";
    }

    // A FUSE daemon ends a little after its volume is unmounted; until then
    // it keeps the loop device open.
    void WaitForDaemonToEnd() const {
        for (int attempt = 0; attempt < 100 && DaemonAlive(); ++attempt)
            Nap(50);
    }

    bool DaemonAlive() const {
        DIR* proc = opendir("/proc");
        if (proc == nullptr) return false;
        bool alive = false;
        while (dirent* entry = readdir(proc)) {
            if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
            // A process may end while it is looked at: its cmdline then
            // reads as an error (ESRCH), which counts as nothing.
            std::string args;
            const int fd = open((std::string("/proc/") + entry->d_name + "/cmdline").c_str(),
                                O_RDONLY | O_CLOEXEC);
            if (fd < 0) continue;
            char buffer[4096];
            for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
                args.append(buffer, static_cast<std::size_t>(n));
            close(fd);
            std::size_t start = 0;
            for (std::size_t end; (end = args.find('\0', start)) != std::string::npos;
                 start = end + 1) {
                if (args.compare(start, end - start, mountPoint_) == 0) alive = true;
            }
        }
        closedir(proc);
        return alive;
    }

    TempDir work_;
    std::string kind_, options_, driver_;
    std::string mountPoint_, loop_, why_;
    std::vector<std::string> images_;
    int current_ = 0;
    bool mounted_ = false;
};

}  // namespace morix::testing
