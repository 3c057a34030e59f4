// The rename run on real case-insensitive volumes: an NTFS image mounted with
// lowntfs-3g -o ignore_case and an exFAT image mounted with exfat-fuse, both
// through FUSE. Needs root, /dev/fuse and the tools of the packages ntfs-3g,
// exfat-fuse and exfatprogs; skipped with a message where any is missing.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "engine/file_system.h"
#include "engine/rename_run.h"
#include "engine/text.h"
#include "support/temp_dir.h"

namespace morix {
namespace {

using testing::TempDir;
using Listing = std::map<std::string, std::string>;

bool Run(const std::string& command) {
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string Output(const std::string& command) {
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
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

// A freshly formatted image mounted in a temporary folder; unmounted and
// removed again in any case.
class MountedVolume {
  public:
    explicit MountedVolume(const std::string& kind) {
        if (geteuid() != 0 || access("/dev/fuse", R_OK | W_OK) != 0) {
            why_ = "needs root and /dev/fuse";
            return;
        }
        image_ = work_.Path("volume.img");
        mountPoint_ = work_.MakeFolder("mnt");
        if (!Run("truncate -s 16M " + image_)) {
            why_ = "cannot make an image file";
            return;
        }
        ntfs_ = kind == "ntfs";
        if (ntfs_) {
            if (!Run("mkntfs -F -Q " + image_) || !MountNtfs(true)) {
                why_ = "cannot format or mount NTFS (package ntfs-3g)";
                return;
            }
        } else {
            if (!Run("mkfs.exfat " + image_)) {
                why_ = "cannot format exFAT (package exfatprogs)";
                return;
            }
            loop_ = Output("losetup --find --show " + image_);
            if (loop_.empty() || !Run("mount.exfat-fuse " + loop_ + " " + mountPoint_)) {
                why_ = "cannot mount exFAT through a loop device (package exfat-fuse)";
                return;
            }
        }
        mounted_ = true;
    }
    ~MountedVolume() {
        if (mounted_) {
            Run("umount " + mountPoint_);
        }
        if (!loop_.empty()) {
            Run("losetup -d " + loop_);
        }
    }

    bool ok() const { return mounted_; }
    const std::string& why() const { return why_; }
    std::string Path(const std::string& name) const { return mountPoint_ + "/" + name; }

    void Make(const std::vector<std::string>& names) const {
        for (const std::string& name : names) {
            std::ofstream(Path(name), std::ios::binary) << name;
        }
    }

    // Names as stored, with their contents. lowntfs-3g -o ignore_case lists
    // every name in lower case, so NTFS is read through a case-sensitive
    // mount for this.
    Listing Read() const {
        if (!ntfs_) {
            return List();
        }
        Listing listing;
        if (Run("umount " + mountPoint_) && MountNtfs(false)) {
            listing = List();
            Run("umount " + mountPoint_);
        }
        EXPECT_TRUE(MountNtfs(true));
        return listing;
    }

  private:
    bool MountNtfs(bool ignoreCase) const {
        return Run(std::string("lowntfs-3g ") + (ignoreCase ? "-o ignore_case " : "") + image_ +
                   " " + mountPoint_);
    }

    Listing List() const {
        Listing listing;
        for (const auto& entry : std::filesystem::directory_iterator(mountPoint_)) {
            listing[entry.path().filename().string()] = TempDir::Read(entry.path().string());
        }
        return listing;
    }

  public:
    RenameOutcome Rename(const std::vector<std::pair<std::string, std::string>>& renames) const {
        std::vector<RenameJob> jobs;
        for (const auto& [from, to] : renames) {
            jobs.push_back(RenameJob{DecodeFileName(Path(from)), {}, DecodeFileName(Path(to))});
        }
        RealFileSystem fs;
        RenameProgress progress;
        progress.Begin(static_cast<int>(jobs.size()));
        return RunRenameJobs(jobs, progress, fs);
    }

  private:
    TempDir work_;
    std::string image_, mountPoint_, loop_, why_;
    bool mounted_ = false;
    bool ntfs_ = false;
};

class FuseVolume : public ::testing::TestWithParam<std::string> {};

TEST_P(FuseVolume, CaseOnlyRenamesChangeTheStoredNameAndNothingIsDestroyed) {
    MountedVolume volume(GetParam());
    if (!volume.ok()) {
        GTEST_SKIP() << GetParam() << " volume not available: " << volume.why();
    }
    volume.Make({"a.txt", "photo.JPG", "b.txt", "x", "y"});

    EXPECT_EQ(volume.Rename({{"a.txt", "A.txt"}, {"photo.JPG", "Photo.jpg"}}),
              RenameOutcome::kRenamed);
    EXPECT_EQ(volume.Read(), (Listing{{"A.txt", "a.txt"},
                                      {"Photo.jpg", "photo.JPG"},
                                      {"b.txt", "b.txt"},
                                      {"x", "x"},
                                      {"y", "y"}}));

    // b.txt -> a.TXT would land on A.txt, another file: refused, nothing moves.
    EXPECT_EQ(volume.Rename({{"b.txt", "a.TXT"}, {"x", "z"}}), RenameOutcome::kTargetExists);
    EXPECT_EQ(volume.Read().at("A.txt"), "a.txt");
    EXPECT_EQ(volume.Read().at("b.txt"), "b.txt");
    EXPECT_EQ(volume.Read().count("z"), 0u);

    // A swap and a change of case in one run, through parked names.
    EXPECT_EQ(volume.Rename({{"x", "y"}, {"y", "x"}, {"b.txt", "B.TXT"}}), RenameOutcome::kRenamed);
    EXPECT_EQ(volume.Read(), (Listing{{"A.txt", "a.txt"},
                                      {"Photo.jpg", "photo.JPG"},
                                      {"B.TXT", "b.txt"},
                                      {"x", "y"},
                                      {"y", "x"}}));
}

INSTANTIATE_TEST_SUITE_P(Kinds, FuseVolume, ::testing::Values("ntfs", "exfat"));

}  // namespace
}  // namespace morix
