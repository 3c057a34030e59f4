#include "app/desktop/desktop_integration.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <set>
#include <string_view>

#include "app/desktop/program_icon.h"
#include "base/program_files.h"
#include "base/program_path.h"
#include "base/user_dirs.h"
#include "os/files.h"
#include "engine/text.h"

extern char** environ;

namespace morix {
namespace {

// Every file registering writes carries this text; only such files are ever
// replaced or removed.
constexpr std::string_view kMarker = "X-Trelvo-Renamer-Generated";
constexpr std::size_t kMaxOwnFileBytes = 1u << 20;
constexpr const char* kManifest = "trelvo-renamer/created";
constexpr const char* kCache = "applications/mimeinfo.cache";

constexpr const char* kName = "Trelvo Renamer";
constexpr const char* kKoreanName = "트렐보 리네이머";

enum Group { kShared, kFiles, kFolders, kGroupCount };

struct Artifact {
    const char* path;  // relative to the data folder
    Group group;
    mode_t mode;
    bool applicationEntry;  // the entry whose presence means the group is registered
    bool systemWide;        // an installation provides it for every user
};

// Dolphin wants its local service menus executable. Files reads scripts from
// the user's folder only.
constexpr Artifact kArtifacts[] = {
    {"icons/hicolor/scalable/apps/trelvo-renamer.svg", kShared, 0644, false, true},
    {"applications/trelvo-renamer.desktop", kFiles, 0644, true, true},
    {"kio/servicemenus/trelvo-renamer-files.desktop", kFiles, 0755, false, true},
    {"nautilus/scripts/Trelvo Renamer", kFiles, 0755, false, false},
    {"nemo/actions/trelvo-renamer-files.nemo_action", kFiles, 0644, false, true},
    {"applications/trelvo-renamer-folder.desktop", kFolders, 0644, true, true},
    {"kio/servicemenus/trelvo-renamer-folders.desktop", kFolders, 0755, false, true},
    {"nemo/actions/trelvo-renamer-folders.nemo_action", kFolders, 0644, false, true},
};

// A program path that every launcher format below can carry unchanged:
// absolute, UTF-8, no control characters and no '%', which each launcher
// reads as its own field code.
bool IsUsableProgramPath(std::string_view path) {
    if (path.size() < 2 || path.front() != '/') return false;
    for (const char16_t unit : DecodeFileName(path)) {
        if (unit < 0x20 || unit == 0x7F || unit == u'%' || (unit >= 0xDC80 && unit <= 0xDCFF))
            return false;
    }
    return true;
}

// One argument of a desktop entry's Exec key: quoted, with the characters
// that quoting reserves escaped, then the backslashes escaped once more as
// every string value needs.
std::string DesktopExecArgument(std::string_view arg) {
    std::string quoted = "\"";
    for (const char c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    std::string value;
    for (const char c : quoted) {
        if (c == '\\') value += '\\';
        value += c;
    }
    return value;
}

std::string ShellQuote(std::string_view arg) {
    std::string quoted = "'";
    for (const char c : arg) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

std::string KeyFileString(std::string_view value) {
    std::string escaped;
    for (const char c : value) {
        if (c == '\\') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

std::string Names() {
    return std::string("Name=") + kName + "\nName[ko]=" + kKoreanName + "\n";
}

std::string ApplicationEntry(const std::string& exec, bool folders) {
    std::string text = "[Desktop Entry]\nType=Application\nVersion=1.4\n" + Names();
    text += "GenericName=Batch File Renamer\n";
    text += folders ? "Comment=Rename the files of a folder\n"
                    : "Comment=Rename many files at once from a name template\n";
    text += "Icon=trelvo-renamer\nExec=" + exec + "\nTerminal=false\n";
    if (folders)
        text += "NoDisplay=true\nMimeType=inode/directory;\n";
    else
        text += "Categories=Utility;FileTools;\nMimeType=application/octet-stream;\n";
    return text + std::string(kMarker) + "=true\n";
}

std::string DolphinServiceMenu(const std::string& exec, bool folders) {
    const char* action = folders ? "trelvoRenamerFolder" : "trelvoRenamerFiles";
    std::string text = "[Desktop Entry]\nType=Application\n" + Names();
    text += "Icon=trelvo-renamer\nExec=" + exec + "\n";
    text += folders ? "MimeType=inode/directory;\n" : "MimeType=application/octet-stream;\n";
    text += std::string("Actions=") + action + ";\n";
    text += "X-KDE-ServiceTypes=KonqPopupMenu/Plugin\nX-KDE-Priority=TopLevel\n";
    text += std::string(kMarker) + "=true\n\n";
    text += std::string("[Desktop Action ") + action + "]\n" + Names();
    return text + "Icon=trelvo-renamer\nExec=" + exec + "\n";
}

std::string NemoAction(const std::string& program, bool folders) {
    std::string text = "[Nemo Action]\n" + Names();
    text += folders ? "Comment=Rename the files of this folder with Trelvo Renamer\n"
                    : "Comment=Rename the selected files with Trelvo Renamer\n";
    text += "Exec=" + KeyFileString(ShellQuote(program)) + (folders ? " --dir %F\n" : " %F\n");
    text += "Icon-Name=trelvo-renamer\n";
    // One folder at a time: the folder option takes one path.
    text += folders ? "Selection=s\nExtensions=dir;\n" : "Selection=notnone\nExtensions=nodirs;\n";
    return text + std::string(kMarker) + "=true\n";
}

// Files gets the selection as names relative to the folder it shows; folders
// among them go through the folder option.
std::string NautilusScript(const std::string& program) {
    return "#!/bin/sh\n"
           "# " +
           std::string(kMarker) +
           ": opens the selected files and folders in Trelvo Renamer.\n"
           "program=" +
           ShellQuote(program) +
           "\n"
           "for item do\n"
           "  case $item in\n"
           "    /*) ;;\n"
           "    *) item=$PWD/$item ;;\n"
           "  esac\n"
           "  if [ -d \"$item\" ]; then\n"
           "    set -- \"$@\" --dir \"$item\"\n"
           "  else\n"
           "    set -- \"$@\" \"$item\"\n"
           "  fi\n"
           "  shift\n"
           "done\n"
           "exec \"$program\" \"$@\"\n";
}

std::string ContentsOf(const Artifact& artifact, const std::string& program) {
    const std::string filesExec = DesktopExecArgument(program) + " %F";
    const std::string folderExec = DesktopExecArgument(program) + " --dir %f";
    const std::string_view path = artifact.path;
    const bool folders = artifact.group == kFolders;
    if (artifact.group == kShared) return kProgramIconSvg;
    if (path.rfind("applications/", 0) == 0)
        return ApplicationEntry(folders ? folderExec : filesExec, folders);
    if (path.rfind("kio/", 0) == 0)
        return DolphinServiceMenu(folders ? folderExec : filesExec, folders);
    if (path.rfind("nemo/", 0) == 0) return NemoAction(program, folders);
    return NautilusScript(program);
}

std::string Join(const std::string& folder, std::string_view relative) {
    return folder + (folder.back() == '/' ? "" : "/") + std::string(relative);
}

std::string ParentOf(const std::string& path) {
    return path.substr(0, path.find_last_of('/'));
}

enum class Presence { kMissing, kOurs, kForeign };

Presence Check(const std::string& path) {
    bool missing = false;
    const std::optional<std::string> text = ReadSmallFile(path, kMaxOwnFileBytes, &missing);
    if (missing) return Presence::kMissing;
    return text && text->find(kMarker) != std::string::npos ? Presence::kOurs : Presence::kForeign;
}

bool IsUsableDataHome(const std::string& dataHome) {
    return dataHome.size() > 1 && dataHome.front() == '/';
}

// What registering created besides its own files, relative to the data
// folder: folders, and the cache of the applications folder when there was
// none. Unregistering removes them again and nothing else.
std::set<std::string> ReadManifest(const std::string& dataHome) {
    std::set<std::string> folders;
    const std::optional<std::string> text =
        ReadSmallFile(Join(dataHome, kManifest), kMaxOwnFileBytes);
    if (!text) return folders;
    std::string_view rest = *text;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        const bool climbs = line == ".." || line.rfind("../", 0) == 0 ||
                            line.find("/../") != std::string_view::npos ||
                            (line.size() >= 3 && line.substr(line.size() - 3) == "/..");
        if (!line.empty() && line.front() != '/' && !climbs) folders.emplace(line);
    }
    return folders;
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// Whether the installation in installedData (empty: none the desktop sees)
// provides the artifact for every user.
bool IsInstalled(const Artifact& artifact, const std::string& installedData) {
    return artifact.systemWide && !installedData.empty() &&
           Exists(Join(installedData, artifact.path));
}

// GLib finds the "Open With" programs of a file type only through this cache
// of the applications folder, so registering makes or refreshes it; KDE reads
// the entries themselves.
void RefreshApplicationsCache(const std::string& dataHome) {
    const std::string folder = Join(dataHome, "applications");
    const char* argv[] = {"update-desktop-database", "-q", folder.c_str(), nullptr};
    pid_t child = 0;
    if (::posix_spawnp(&child, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
        return;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

std::vector<std::string> RegisteredFiles() {
    std::vector<std::string> files;
    for (const Artifact& artifact : kArtifacts)
        files.emplace_back(artifact.path);
    return files;
}

bool RegisterContextMenu(const std::string& dataHome, const std::string& programPath,
                         const std::string& installedData) {
    if (!IsUsableDataHome(dataHome) || !IsUsableProgramPath(programPath)) return false;
    bool ok[kGroupCount] = {true, true, true};
    std::vector<std::string> created;
    const std::string cache = Join(dataHome, kCache);
    const bool hadCache = Exists(cache);
    for (const Artifact& artifact : kArtifacts) {
        const std::string path = Join(dataHome, artifact.path);
        bool& groupOk = ok[artifact.group];
        if (IsInstalled(artifact, installedData)) {
            // A copy of ours would hide the installation's file from the
            // desktop, and it may point at a program that has gone since.
            if (Check(path) == Presence::kOurs && ::unlink(path.c_str()) != 0 && errno != ENOENT)
                groupOk = false;
            continue;
        }
        if (!MakeFolders(ParentOf(path), 0700, &created) || Check(path) == Presence::kForeign) {
            groupOk = false;
            continue;
        }
        groupOk = ReplaceFileAtomically(path, ContentsOf(artifact, programPath), artifact.mode) &&
                  groupOk;
    }

    // Remember the new folders, together with those of earlier registrations.
    std::set<std::string> folders = ReadManifest(dataHome);
    const std::size_t known = folders.size();
    const std::string manifest = Join(dataHome, kManifest);
    const std::string prefix = Join(dataHome, "");
    auto remember = [&] {
        for (const std::string& folder : created) {
            if (folder.size() > prefix.size() && folder.rfind(prefix, 0) == 0)
                folders.insert(folder.substr(prefix.size()));
        }
    };
    remember();
    RefreshApplicationsCache(dataHome);
    if (!hadCache && Exists(cache)) folders.insert(kCache);
    if (folders.size() != known) {
        created.clear();
        const bool written = MakeFolders(ParentOf(manifest), 0700, &created);
        remember();
        std::string text;
        for (const std::string& folder : folders)
            text += folder + "\n";
        if (!written || !ReplaceFileAtomically(manifest, text, 0644)) ok[kShared] = false;
    }
    return ok[kShared] && ok[kFiles] && ok[kFolders];
}

Removal UnregisterContextMenu(const std::string& dataHome, const std::string& installedData) {
    if (!IsUsableDataHome(dataHome)) return Removal::kFailed;
    bool failed = false;
    bool missing = false;
    for (const Artifact& artifact : kArtifacts) {
        const std::string path = Join(dataHome, artifact.path);
        const Presence presence = Check(path);
        if (presence == Presence::kOurs) {
            if (::unlink(path.c_str()) != 0 && errno != ENOENT) failed = true;
        } else if (artifact.applicationEntry && !IsInstalled(artifact, installedData)) {
            missing = true;  // this group was not registered
        }
    }

    // A cache that registering made goes again unless it now lists other
    // programs of the user.
    std::set<std::string> folders = ReadManifest(dataHome);
    const std::string cache = Join(dataHome, kCache);
    if (Exists(cache)) RefreshApplicationsCache(dataHome);
    if (folders.erase(kCache) != 0) {
        const std::optional<std::string> text = ReadSmallFile(cache, kMaxOwnFileBytes);
        if (text && text->find('=') == std::string::npos) ::unlink(cache.c_str());
    }

    // Folders deepest first; a folder that still holds anything stays.
    ::unlink(Join(dataHome, kManifest).c_str());
    std::vector<std::string> deepestFirst(folders.begin(), folders.end());
    std::sort(deepestFirst.begin(), deepestFirst.end(),
              [](const std::string& a, const std::string& b) {
                  return std::count(a.begin(), a.end(), '/') > std::count(b.begin(), b.end(), '/');
              });
    for (const std::string& folder : deepestFirst)
        ::rmdir(Join(dataHome, folder).c_str());
    if (failed) return Removal::kFailed;
    return missing ? Removal::kNotRegistered : Removal::kRemoved;
}

std::vector<DesktopFile> SystemDesktopFiles(const std::string& programPath) {
    std::vector<DesktopFile> files;
    if (!IsUsableProgramPath(programPath)) return files;
    for (const Artifact& artifact : kArtifacts) {
        if (!artifact.systemWide) continue;
        // The installation's files are not the user's registration: no mark.
        std::string text = ContentsOf(artifact, programPath);
        const std::string markLine = "\n" + std::string(kMarker) + "=true\n";
        if (const std::size_t at = text.find(markLine); at != std::string::npos)
            text.erase(at + 1, markLine.size() - 1);
        files.push_back({artifact.path, std::move(text)});
    }
    return files;
}

std::string InstalledDesktopData() {
    const std::string shared = ProgramFilesFolder(ProgramFiles::kShared);
    const std::vector<std::string> seen = SystemDataDirs();
    return std::find(seen.begin(), seen.end(), shared) != seen.end() ? shared : std::string();
}

bool RegisterContextMenu() {
    return RegisterContextMenu(UserDataHome(), CurrentProgramPath(), InstalledDesktopData());
}

Removal UnregisterContextMenu() {
    return UnregisterContextMenu(UserDataHome(), InstalledDesktopData());
}

}  // namespace morix
