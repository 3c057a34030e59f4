// Registration with the desktop, in a data folder of its own: the files
// validate, the launchers hand the selection to the program, and removal
// leaves the folders exactly as they were.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/desktop/desktop_integration.h"
#include "support/run_process.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

using namespace morix;
using morix::testing::RunProcess;
using morix::testing::ScopedEnv;
using morix::testing::TempDir;
namespace fs = std::filesystem;

namespace {

// Everything below a folder: each path with its kind, permissions and text.
std::map<std::string, std::string> Snapshot(const std::string& root) {
    std::map<std::string, std::string> items;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        const std::string relative = item.path().string().substr(root.size());
        struct stat info {};
        ::lstat(item.path().c_str(), &info);
        std::string state = std::to_string(info.st_mode);
        if (item.is_regular_file()) {
            state += ':';
            state += TempDir::Read(item.path());
        }
        items[relative] = state;
    }
    return items;
}

class DesktopIntegrationTest : public ::testing::Test {
  protected:
    DesktopIntegrationTest() : data(dir.MakeFolder("data")) {
        // A program in a folder whose name needs every kind of quoting; it
        // notes each call, one argument a line.
        const std::string folder = dir.MakeFolder("odd $dir `x` \\ 'q' \"d\" 트렐보");
        program = folder + "/morix";
        calls = dir.Path("calls");
        std::ofstream(program) << "#!/bin/sh\n{ for a do printf '[%s]' \"$a\"; done; echo; } >> '"
                               << calls << "'\n";
        fs::permissions(program, fs::perms::owner_all);
    }

    std::string Data(const std::string& relative) const { return data + "/" + relative; }

    // Waits for a launched program to have noted the given number of calls.
    std::string Calls(std::size_t count) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (;;) {
            const std::string text = TempDir::Read(calls);
            if (static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) >= count ||
                std::chrono::steady_clock::now() > deadline)
                return text;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    TempDir dir;
    std::string data;
    std::string program;
    std::string calls;
};

TEST_F(DesktopIntegrationTest, EveryDesktopFileValidates) {
    ASSERT_TRUE(RegisterContextMenu(data, program));
    int validated = 0;
    for (const auto& item : fs::recursive_directory_iterator(data)) {
        if (item.path().extension() != ".desktop") continue;
        const auto result = RunProcess({"/usr/bin/desktop-file-validate", item.path().string()});
        EXPECT_EQ(result.exitCode, 0) << item.path() << "\n" << result.out << result.err;
        EXPECT_EQ(result.out.find("error"), std::string::npos) << result.out;
        ++validated;
    }
    EXPECT_EQ(validated, 4);
    const std::string entry = TempDir::Read(Data("applications/trelvo-renamer.desktop"));
    EXPECT_NE(entry.find("\nName=Trelvo Renamer\n"), std::string::npos);
    EXPECT_NE(entry.find("\nName[ko]=트렐보 리네이머\n"), std::string::npos);
    EXPECT_NE(entry.find("\nIcon=trelvo-renamer\n"), std::string::npos);
    EXPECT_TRUE(fs::is_regular_file(Data("icons/hicolor/scalable/apps/trelvo-renamer.svg")));
}

// The desktop's own list of programs for a file type (GLib's) offers the
// renamer for files and for folders while it is registered.
TEST_F(DesktopIntegrationTest, OpenWithOffersTheRenamerWhileRegistered) {
    ScopedEnv dataHome("XDG_DATA_HOME", data);
    ScopedEnv configHome("XDG_CONFIG_HOME", dir.MakeFolder("config"));
    auto offered = [](const char* type) { return RunProcess({"/usr/bin/gio", "mime", type}).out; };
    ASSERT_TRUE(RegisterContextMenu(data, program));
    EXPECT_NE(offered("application/octet-stream").find("trelvo-renamer.desktop"),
              std::string::npos);
    EXPECT_NE(offered("inode/directory").find("trelvo-renamer-folder.desktop"), std::string::npos);

    ASSERT_EQ(UnregisterContextMenu(data), Removal::kRemoved);
    EXPECT_EQ(offered("application/octet-stream").find("trelvo-renamer"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(data));
}

// The desktop's own launcher reads each Exec line back into the program's
// path and the selection.
TEST_F(DesktopIntegrationTest, LaunchersHandTheSelectionToTheProgram) {
    ASSERT_TRUE(RegisterContextMenu(data, program));
    const std::string fileA = dir.MakeFile("a b.txt");
    const std::string fileB = dir.MakeFile("-c.txt");
    const std::string folder = dir.MakeFolder("photos");

    auto launch = [&](const std::string& entry, std::vector<std::string> items) {
        fs::remove(calls);
        std::vector<std::string> argv = {"/usr/bin/gio", "launch", Data(entry)};
        argv.insert(argv.end(), items.begin(), items.end());
        const auto result = RunProcess(argv);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return Calls(1);
    };
    const std::string files = "[" + fileA + "][" + fileB + "]\n";
    const std::string folderCall = "[--dir][" + folder + "]\n";
    EXPECT_EQ(launch("applications/trelvo-renamer.desktop", {fileA, fileB}), files);
    EXPECT_EQ(launch("kio/servicemenus/trelvo-renamer-files.desktop", {fileA, fileB}), files);
    EXPECT_EQ(launch("applications/trelvo-renamer-folder.desktop", {folder}), folderCall);
    EXPECT_EQ(launch("kio/servicemenus/trelvo-renamer-folders.desktop", {folder}), folderCall);

    // Files runs its script in the shown folder with names relative to it.
    fs::remove(calls);
    const auto script =
        RunProcess({Data("nautilus/scripts/Trelvo Renamer"), "a b.txt", "photos", "-c.txt", fileA},
                   dir.bytes());
    EXPECT_EQ(script.exitCode, 0) << script.err;
    EXPECT_EQ(Calls(1), "[" + fileA + "][--dir][" + folder + "][" + fileB + "][" + fileA + "]\n");

    // Nemo reads its Exec like a shell command line, %F standing for the
    // quoted selection.
    for (const auto& [action, expected] :
         {std::pair{"nemo/actions/trelvo-renamer-files.nemo_action", "[" + fileA + "]\n"},
          std::pair{"nemo/actions/trelvo-renamer-folders.nemo_action", folderCall}}) {
        const std::string text = TempDir::Read(Data(action));
        const std::size_t start = text.find("\nExec=") + 6;
        std::string exec = text.substr(start, text.find('\n', start) - start);
        for (std::size_t at = 0; (at = exec.find("\\\\", at)) != std::string::npos; ++at)
            exec.erase(at, 1);
        const std::string item =
            std::string(action).find("folders") != std::string::npos ? folder : fileA;
        exec.replace(exec.find("%F"), 2, "'" + item + "'");
        fs::remove(calls);
        EXPECT_EQ(RunProcess({"/bin/sh", "-c", exec}).exitCode, 0) << exec;
        EXPECT_EQ(Calls(1), expected) << exec;
    }
}

TEST_F(DesktopIntegrationTest, RegisterTwiceThenRemoveLeavesTheFoldersAsTheyWere) {
    // What the user had before: own entries beside ours, an empty folder that
    // registering also uses, and no icon theme folder at all.
    fs::create_directories(Data("applications"));
    std::ofstream(Data("applications/other.desktop"))
        << "[Desktop Entry]\nType=Application\nName=Other\nExec=other %F\n"
           "MimeType=application/octet-stream;\n";
    // A cache of the applications folder, which must list our entry while it
    // is registered and be as before afterwards.
    const std::string cache = Data("applications/mimeinfo.cache");
    ASSERT_EQ(RunProcess({"/usr/bin/update-desktop-database", Data("applications")}).exitCode, 0);
    ASSERT_NE(TempDir::Read(cache).find("other.desktop"), std::string::npos);
    fs::create_directories(Data("nemo/actions"));
    fs::create_directories(Data("kio/servicemenus"));
    std::ofstream(Data("kio/servicemenus/mine.desktop")) << "mine";
    const auto before = Snapshot(data);

    ASSERT_TRUE(RegisterContextMenu(data, program));
    EXPECT_NE(TempDir::Read(cache).find("trelvo-renamer.desktop"), std::string::npos);
    const auto once = Snapshot(data);
    for (const std::string& file : RegisteredFiles())
        EXPECT_TRUE(once.count("/" + file)) << file;
    ASSERT_TRUE(RegisterContextMenu(data, program));
    EXPECT_EQ(Snapshot(data), once);

    EXPECT_EQ(UnregisterContextMenu(data), Removal::kRemoved);
    EXPECT_EQ(Snapshot(data), before);
    EXPECT_EQ(UnregisterContextMenu(data), Removal::kNotRegistered) << "nothing left to remove";
    EXPECT_EQ(Snapshot(data), before);
}

TEST_F(DesktopIntegrationTest, FilesOfTheSameNameThatAreNotOursStay) {
    fs::create_directories(Data("nautilus/scripts"));
    const std::string mine = Data("nautilus/scripts/Trelvo Renamer");
    std::ofstream(mine) << "#!/bin/sh\necho my own script\n";

    EXPECT_FALSE(RegisterContextMenu(data, program));
    EXPECT_EQ(TempDir::Read(mine), "#!/bin/sh\necho my own script\n");
    // Everything else was still written, the folder entries included.
    EXPECT_TRUE(fs::exists(Data("applications/trelvo-renamer.desktop")));
    EXPECT_TRUE(fs::exists(Data("nemo/actions/trelvo-renamer-folders.nemo_action")));

    EXPECT_EQ(UnregisterContextMenu(data), Removal::kRemoved);
    EXPECT_EQ(TempDir::Read(mine), "#!/bin/sh\necho my own script\n");
    EXPECT_FALSE(fs::exists(Data("applications")));
}

TEST_F(DesktopIntegrationTest, BothKindsAreAlwaysAttemptedAndBothMustSucceed) {
    // The Dolphin folder cannot be made: both kinds have an entry there.
    std::ofstream(Data("kio")) << "a file where a folder should be";
    EXPECT_FALSE(RegisterContextMenu(data, program));
    EXPECT_TRUE(fs::exists(Data("applications/trelvo-renamer.desktop")));
    EXPECT_TRUE(fs::exists(Data("applications/trelvo-renamer-folder.desktop")));
    fs::remove(Data("kio"));

    // Folders were removed by hand: removal still clears the file entries.
    ASSERT_TRUE(RegisterContextMenu(data, program));
    fs::remove(Data("applications/trelvo-renamer-folder.desktop"));
    EXPECT_EQ(UnregisterContextMenu(data), Removal::kNotRegistered);
    EXPECT_FALSE(fs::exists(Data("applications/trelvo-renamer.desktop")));
    EXPECT_FALSE(fs::exists(Data("nemo/actions/trelvo-renamer-files.nemo_action")));
}

// An installation's files for every user are those registering writes, less
// the per-user script of Files and the mark of a registration.
TEST_F(DesktopIntegrationTest, TheInstallationsFilesValidateAndStartTheInstalledProgram) {
    const std::string installed = dir.MakeFolder("usr/share");
    const std::vector<DesktopFile> files = SystemDesktopFiles("/usr/bin/morix");
    std::vector<std::string> paths;
    for (const DesktopFile& file : files) {
        paths.push_back(file.path);
        EXPECT_EQ(file.text.find("X-Trelvo-Renamer-Generated="), std::string::npos) << file.path;
        if (file.path.ends_with(".svg")) continue;
        int execs = 0;
        for (std::size_t at = 0; (at = file.text.find("\nExec=", at)) != std::string::npos; ++at) {
            const std::string exec =
                file.text.substr(at + 6, file.text.find('\n', at + 1) - at - 6);
            EXPECT_TRUE(exec.starts_with("\"/usr/bin/morix\" ") ||
                        exec.starts_with("'/usr/bin/morix' "))
                << file.path << ": " << exec;
            ++execs;
        }
        EXPECT_GT(execs, 0) << file.path;
        const std::string path = installed + "/" + file.path;
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path) << file.text;
        if (!file.path.ends_with(".desktop")) continue;
        const auto result = RunProcess({"/usr/bin/desktop-file-validate", path});
        EXPECT_EQ(result.exitCode, 0) << path << "\n" << result.out << result.err;
    }
    std::vector<std::string> expected = RegisteredFiles();
    std::erase(expected, "nautilus/scripts/Trelvo Renamer");
    EXPECT_EQ(paths, expected);
    EXPECT_TRUE(SystemDesktopFiles("relative/morix").empty());
}

// With the package installed, registering writes only what the package
// cannot provide, and takes away earlier copies that would hide its files.
TEST_F(DesktopIntegrationTest, WhatTheInstallationProvidesIsNotRegisteredAgain) {
    const std::string installed = dir.MakeFolder("usr/share");
    for (const DesktopFile& file : SystemDesktopFiles("/usr/bin/morix")) {
        fs::create_directories(fs::path(installed + "/" + file.path).parent_path());
        std::ofstream(installed + "/" + file.path) << file.text;
    }
    const auto before = Snapshot(data);
    // Registered once from a build folder, then the user put an own action
    // in place of one of ours.
    ASSERT_TRUE(RegisterContextMenu(data, program));
    const std::string own = Data("nemo/actions/trelvo-renamer-files.nemo_action");
    std::ofstream(own) << "[Nemo Action]\nName=mine\n";

    ASSERT_TRUE(RegisterContextMenu(data, program, installed));
    std::vector<std::string> left;
    for (const auto& item : fs::recursive_directory_iterator(data)) {
        if (item.is_regular_file()) left.push_back(item.path().string().substr(data.size() + 1));
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left,
              (std::vector<std::string>{
                  "applications/mimeinfo.cache", "nautilus/scripts/Trelvo Renamer",
                  "nemo/actions/trelvo-renamer-files.nemo_action", "trelvo-renamer/created"}));
    EXPECT_NE(TempDir::Read(Data("nautilus/scripts/Trelvo Renamer")).find("/morix'\n"),
              std::string::npos);

    // Provided files count as registered; removal takes only the user's, and
    // the folder that holds the user's own action stays.
    EXPECT_EQ(UnregisterContextMenu(data, installed), Removal::kRemoved);
    EXPECT_EQ(TempDir::Read(own), "[Nemo Action]\nName=mine\n");
    fs::remove_all(Data("nemo"));
    EXPECT_EQ(Snapshot(data), before);
    EXPECT_EQ(UnregisterContextMenu(data), Removal::kNotRegistered)
        << "without the package nothing is registered";
}

TEST_F(DesktopIntegrationTest, ProgramPathsTheLaunchersCannotCarryWriteNothing) {
    for (const std::string& bad : {std::string("relative/morix"), dir.Path("new\nline"),
                                   dir.Path("100%"), dir.Path("bad\xFF"), std::string()}) {
        EXPECT_FALSE(RegisterContextMenu(data, bad)) << bad;
    }
    EXPECT_TRUE(fs::is_empty(data));
    EXPECT_FALSE(RegisterContextMenu("relative", program));
}

}  // namespace
