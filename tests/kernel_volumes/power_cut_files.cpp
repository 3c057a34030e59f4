// The files of a power-cut trial and the rename runs over them, run inside
// the virtual machine of scripts/kernel-volumes:
//
//   power_cut_files make TOP FOLDERS               makes the files under their old names
//   power_cut_files rename TOP FOLDERS MORIX       runs MORIX --rename from the old names
//                                                  to the new ones (exec)
//   power_cut_files rename-back TOP FOLDERS MORIX  the same run the other way round
//   power_cut_files check TOP FOLDERS              compares every file by content
//
// 20,000 files in FOLDERS folders of equal size, each folder with the same
// mix (one folder: a rotation of 6,000 files, 1,500 swapped pairs, a chain of
// 8,000 whose first target is free, and 3,000 files whose new names are
// free). The new names are f000001 up, the old ones the same shifted by the
// number of free targets, so either way the run is one "--sort none -t
// f######" with a first number: the path given in the k-th place gets the
// k-th name. Run back, the rotation and the swaps stay what they are, the
// chain runs the other way from its last name (then free), and the free
// moves stay free. Each file holds its old name, so a file found anywhere
// tells which file it is.
//
// check prints one line "state old|new files N" and exits 0 when every file
// is under its old name or every file under its new name, nothing lost,
// doubled or left under a temporary name; otherwise it names each fault and
// ends with "state mixed ...", and exits 1.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kNames = 20000;

std::string Name(int number) {
    char name[16];
    std::snprintf(name, sizeof name, "f%06d", number);
    return name;
}

// One file of the run: its old and new name (numbers of Name) and its folder.
struct Step {
    int oldName, newName;
    std::string folder;
};

// The number of free targets in a folder of per files; the old names are
// the new ones shifted by it.
int Shift(int per) {
    return per * 15 / 100 + 1;
}

// The run over folders subfolders of equal size, each with the same mix: 30 %
// a rotation, 15 % swapped pairs, 40 % a chain whose first target is free,
// 15 % free names. In a folder (numbers from base) the new names are 1 to
// per, the old ones shift + 1 to shift + per; in order of the new names.
std::vector<Step> Steps(int folders) {
    std::vector<Step> steps;
    const int per = kNames / folders;
    const int rotation = per * 30 / 100, swaps = per * 15 / 100, free = per * 15 / 100;
    const int chain = per - rotation - swaps - free, shift = Shift(per);
    for (int f = 0; f < folders; ++f) {
        char folder[16];
        std::snprintf(folder, sizeof folder, "d%03d", f);
        const int base = f * per;
        const auto add = [&](int oldName, int newName) {
            steps.push_back(Step{base + oldName, base + newName, folder});
        };
        // The chain: shift + 1 to the free name 1, each next to the one
        // before, and at last per + 1 (which no file takes) to shift + chain - 1.
        add(shift + 1, 1);
        // The free moves: per + 2 ... to 2 ... (the names up to shift).
        for (int j = 1; j <= free; ++j)
            add(per + 1 + j, 1 + j);
        for (int name = shift + 1; name < shift + chain - 1; ++name)
            add(name + 1, name);
        add(per + 1, shift + chain - 1);
        // The swaps, in pairs, then the rotation: each to the next name up,
        // the last to the first.
        const int swapsStart = shift + chain, rotationStart = swapsStart + swaps;
        for (int name = swapsStart; name < rotationStart; ++name)
            add((name - swapsStart) % 2 == 0 ? name + 1 : name - 1, name);
        add(per, rotationStart);
        for (int name = rotationStart + 1; name <= per; ++name)
            add(name - 1, name);
    }
    std::sort(steps.begin(), steps.end(),
              [](const Step& a, const Step& b) { return a.newName < b.newName; });
    return steps;
}

using Listing = std::map<std::string, std::string>;  // folder/name -> content

Listing Before(int folders) {
    Listing listing;
    for (const Step& s : Steps(folders))
        listing[s.folder + "/" + Name(s.oldName)] = Name(s.oldName);
    return listing;
}

Listing After(int folders) {
    Listing listing;
    for (const Step& s : Steps(folders))
        listing[s.folder + "/" + Name(s.newName)] = Name(s.oldName);
    return listing;
}

// The entries of a folder (without "." and ".."): name and inode number.
std::vector<std::pair<std::string, ino_t>> Entries(const std::string& folder) {
    std::vector<std::pair<std::string, ino_t>> entries;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string_view name = entry->d_name;
            if (name != "." && name != "..") entries.emplace_back(name, entry->d_ino);
        }
        ::closedir(dir);
    }
    return entries;
}

// Every file under top and in its folders (one level), with its content. The
// files are asked for in batches, in the order of their inode numbers (near
// the order of their data on the disk), before any is read: the disk gets
// many requests at once instead of one small read at a time. They are read
// without touching their access times, which would leave every file to be
// written back.
Listing ReadFolder(const std::string& top) {
    struct File {
        std::string name, path;  // in the listing, and the whole path
        ino_t inode;
    };
    std::vector<File> files;
    for (const auto& [folderName, folderInode] : Entries(top)) {
        if (folderName == "lost+found") continue;
        const std::string folder = top + "/" + folderName;
        struct stat st;
        if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            files.push_back({folderName, folder, folderInode});
            continue;
        }
        for (const auto& [name, inode] : Entries(folder))
            files.push_back({folderName + "/" + name, folder + "/" + name, inode});
    }
    std::sort(files.begin(), files.end(),
              [](const File& a, const File& b) { return a.inode < b.inode; });
    Listing listing;
    constexpr std::size_t kBatch = 900;  // below the usual limit of 1,024 open files
    std::vector<int> fds;
    for (std::size_t first = 0; first < files.size(); first += kBatch) {
        const std::size_t end = std::min(files.size(), first + kBatch);
        fds.clear();
        for (std::size_t i = first; i < end; ++i) {
            const char* path = files[i].path.c_str();
            int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOATIME);
            if (fd < 0 && errno == EPERM) fd = ::open(path, O_RDONLY | O_CLOEXEC);
            if (fd >= 0) ::posix_fadvise(fd, 0, 0, POSIX_FADV_WILLNEED);
            fds.push_back(fd);
        }
        for (std::size_t i = first; i < end; ++i) {
            std::string content;
            const int fd = fds[i - first];
            char buffer[4096];
            for (ssize_t n; fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0;)
                content.append(buffer, static_cast<std::size_t>(n));
            if (fd >= 0) ::close(fd);
            listing[files[i].name] = std::move(content);
        }
    }
    return listing;
}

bool WriteFile(const std::string& path, const std::string& content) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool ok =
        ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    return ::close(fd) == 0 && ok;
}

int Make(const std::string& top, int folders) {
    for (const auto& [path, content] : Before(folders)) {
        std::filesystem::create_directories(top + "/" + path.substr(0, path.find('/')));
        if (!WriteFile(top + "/" + path, content)) {
            std::fprintf(stderr, "cannot make %s: %s\n", path.c_str(), std::strerror(errno));
            return 1;
        }
    }
    ::sync();
    return 0;
}

// Forward: each file from its old name to its new one, the paths in order of
// the new names from 1; back: the other way, in order of the old names, which
// start at the shift.
int Rename(const std::string& top, int folders, const std::string& morix, bool back) {
    std::vector<Step> steps = Steps(folders);
    if (back) {
        std::sort(steps.begin(), steps.end(),
                  [](const Step& a, const Step& b) { return a.oldName < b.oldName; });
    }
    const std::string start = std::to_string(back ? Shift(kNames / folders) + 1 : 1);
    std::vector<std::string> args = {morix, "--rename", "--sort", "none", "-t", "f######",
                                     "--start", start, "--"};
    for (const Step& s : steps)
        args.push_back(top + "/" + s.folder + "/" + Name(back ? s.newName : s.oldName));
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execv(morix.c_str(), argv.data());
    std::fprintf(stderr, "cannot start %s: %s\n", morix.c_str(), std::strerror(errno));
    return 127;
}

int Check(const std::string& top, int folders) {
    const Listing found = ReadFolder(top);
    const Listing before = Before(folders), after = After(folders);
    if (found == before || found == after) {
        std::printf("state %s files %zu\n", found == before ? "old" : "new", found.size());
        return 0;
    }
    // Which of the two states the folder is nearer to decides what counts as
    // misplaced; every file is accounted for by its content.
    std::size_t matchBefore = 0, matchAfter = 0;
    for (const auto& [name, content] : found) {
        matchBefore += before.contains(name) && before.at(name) == content;
        matchAfter += after.contains(name) && after.at(name) == content;
    }
    const Listing& expected = matchBefore >= matchAfter ? before : after;
    std::map<std::string, std::vector<std::string>> namesOf;  // content -> names
    for (const auto& [name, content] : found)
        namesOf[content].push_back(name);
    std::size_t lost = 0, doubled = 0, misplaced = 0, temporary = 0, foreign = 0;
    for (const auto& [name, content] : expected) {
        const auto it = namesOf.find(content);
        if (it == namesOf.end()) {
            ++lost;
            std::printf("lost: %s\n", content.c_str());
        } else if (it->second.size() > 1) {
            ++doubled;
            std::printf("doubled: %s\n", content.c_str());
        } else if (it->second.front() != name) {
            ++misplaced;
            if (misplaced <= 20)
                std::printf("misplaced: %s under %s\n", content.c_str(), it->second[0].c_str());
        }
    }
    for (const auto& [name, content] : found) {
        if (name.substr(name.find('/') + 1).starts_with(".morx$")) {
            ++temporary;
            std::printf("temporary: %s holds %s\n", name.c_str(), content.c_str());
        } else if (!before.contains(name) && !after.contains(name)) {
            ++foreign;
            std::printf("foreign: %s\n", name.c_str());
        }
    }
    std::printf(
        "state mixed files %zu lost %zu doubled %zu misplaced %zu temporary %zu foreign %zu\n",
        found.size(), lost, doubled, misplaced, temporary, foreign);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 3 ? argv[1] : "";
    const int folders = argc > 3 ? std::atoi(argv[3]) : 0;
    if (folders < 1 || folders > 1000 || kNames % folders != 0) {
        std::fprintf(stderr,
                     "usage: power_cut_files make|rename|rename-back|check TOP FOLDERS [MORIX]\n");
        return 2;
    }
    if (command == "make") return Make(argv[2], folders);
    if (command == "rename" && argc > 4) return Rename(argv[2], folders, argv[4], false);
    if (command == "rename-back" && argc > 4) return Rename(argv[2], folders, argv[4], true);
    if (command == "check") return Check(argv[2], folders);
    return 2;
}
