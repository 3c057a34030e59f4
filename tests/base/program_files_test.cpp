// The files that come with the program are found relative to the program
// itself, wherever the installation or the build folder put it.
#include "base/program_files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace morix {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// The folder `relative` (the build's own layout) from the folder of program,
// made and named without "..".
std::string Make(const std::string& program, const char* relative) {
    const fs::path folder = (fs::path(program).parent_path() / relative).lexically_normal();
    fs::create_directories(folder);
    return folder.string();
}

TEST(ProgramFilesTest, InstalledFilesAreFoundBesideAnInstalledProgram) {
    TempDir dir;
    // Under any prefix: the same relative layout.
    for (const std::string prefix : {"/usr", "/usr/local", "/opt/x y/트렐보"}) {
        const std::string program = dir.bytes() + prefix + "/bin/morix";
        fs::create_directories(fs::path(program).parent_path());
        const std::string helpers = Make(program, MORIX_INSTALLED_HELPERS);
        const std::string modules = Make(program, MORIX_INSTALLED_MODULES);
        const std::string data = Make(program, MORIX_INSTALLED_DATA);
        EXPECT_EQ(ProgramFilesFolder(ProgramFiles::kHelpers, program), helpers) << prefix;
        EXPECT_EQ(ProgramFilesFolder(ProgramFiles::kModules, program), modules) << prefix;
        EXPECT_EQ(ProgramFilesFolder(ProgramFiles::kData, program), data) << prefix;
        EXPECT_EQ(ProgramFilesFolder(ProgramFiles::kShared, program),
                  fs::path(data).parent_path().string());
    }
}

TEST(ProgramFilesTest, TheBuildFolderIsTheFallbackAndTheInstallationWins) {
    TempDir dir;
    const std::string program = dir.MakeFolder("build/app") + "/morix";
    const std::string helpers = Make(program, MORIX_BUILD_HELPERS);
    const std::string data = Make(program, MORIX_BUILD_DATA);
    EXPECT_EQ(ProgramFilesFolder(ProgramFiles::kHelpers, program), helpers);
    // The modules lie beside the program in the build folder.
    EXPECT_EQ(ProgramFilesFolder(ProgramFiles::kModules, program), dir.Path("build/app"));
    EXPECT_EQ(ProgramFilesFolder(ProgramFiles::kData, program), data);

    const std::string installedHelpers = Make(program, MORIX_INSTALLED_HELPERS);
    EXPECT_EQ(ProgramFilesFolder(ProgramFiles::kHelpers, program), installedHelpers);
}

TEST(ProgramFilesTest, WithNothingThereTheInstalledPlaceIsNamed) {
    TempDir dir;
    const std::string program = dir.Path("bin/morix");
    const fs::path folder = fs::path(program).parent_path();
    EXPECT_EQ(ProgramFilesFolder(ProgramFiles::kData, program),
              (folder / MORIX_INSTALLED_DATA).lexically_normal().string());
    // The shared data folder never falls back to the build folder's.
    Make(program, MORIX_BUILD_DATA);
    EXPECT_EQ(ProgramFilesFolder(ProgramFiles::kShared, program),
              (folder / MORIX_INSTALLED_SHARED).lexically_normal().string());
    // A program at the root: ".." stays at the root.
    EXPECT_EQ(ProgramFilesFolder(ProgramFiles::kShared, "/morix").front(), '/');
    EXPECT_EQ(ProgramFilesFolder(ProgramFiles::kData, "relative/morix"), "");
    EXPECT_EQ(ProgramFilesFolder(ProgramFiles::kData, ""), "");
}

TEST(ProgramFilesTest, TheRunningProgramsFoldersLieAroundIt) {
    const fs::path self = fs::read_symlink("/proc/self/exe").parent_path();
    EXPECT_EQ(ProgramFilesFolder(ProgramFiles::kShared),
              (self / MORIX_INSTALLED_SHARED).lexically_normal().string());
}

}  // namespace
}  // namespace morix
