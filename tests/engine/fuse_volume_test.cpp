// The rename run on real case-insensitive volumes: an NTFS image mounted with
// lowntfs-3g -o ignore_case and an exFAT image mounted with exfat-fuse, both
// through FUSE on a loop device. Needs root, /dev/fuse and the tools of the packages ntfs-3g,
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
#include "support/mounted_volume.h"
#include "support/temp_dir.h"

namespace morix {
namespace {

using testing::MountedVolume;
using testing::TempDir;
using Listing = std::map<std::string, std::string>;

// A volume of the given kind with the files of a test on it. NTFS is
// mounted with lowntfs-3g -o ignore_case.
class TestVolume {
  public:
    explicit TestVolume(const std::string& kind)
        : volume_(kind, kind == "ntfs" ? "ignore_case" : "", "lowntfs-3g") {}

    bool ok() const { return volume_.ok(); }
    const std::string& why() const { return volume_.why(); }
    std::string Path(const std::string& name) const { return volume_.Path(name); }

    void Make(const std::vector<std::string>& names) const {
        for (const std::string& name : names) {
            std::ofstream(Path(name), std::ios::binary) << name;
        }
    }

    // Names as stored, with their contents. lowntfs-3g -o ignore_case lists
    // every name in lower case, so NTFS is read through a case-sensitive
    // mount for this.
    Listing Read() {
        if (volume_.kind() != "ntfs") {
            return List();
        }
        Listing listing;
        if (volume_.Unmount() && volume_.MountWith("")) {
            listing = List();
        }
        EXPECT_TRUE(volume_.Unmount() && volume_.Mount());
        return listing;
    }

    RenameOutcome Rename(const std::vector<std::pair<std::string, std::string>>& renames) const {
        RenameJobs jobs;
        for (const auto& [from, to] : renames) jobs.Add(Path(from), Path(to));
        RealFileSystem fs;
        RenameProgress progress;
        progress.Begin(static_cast<int>(jobs.size()));
        return RunRenameJobs(jobs, progress, fs);
    }

  private:
    Listing List() const {
        Listing listing;
        for (const auto& entry : std::filesystem::directory_iterator(volume_.MountPoint())) {
            listing[entry.path().filename().string()] = TempDir::Read(entry.path().string());
        }
        return listing;
    }

    MountedVolume volume_;
};

class FuseVolume : public ::testing::TestWithParam<std::string> {};

TEST_P(FuseVolume, CaseOnlyRenamesChangeTheStoredNameAndNothingIsDestroyed) {
    TestVolume volume(GetParam());
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
