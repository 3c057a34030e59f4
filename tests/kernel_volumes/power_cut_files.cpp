// The files of a power-cut trial and the rename run over them, run inside
// the virtual machine of scripts/kernel-volumes:
//
//   power_cut_files make TOP FOLDERS          makes the files under their old names
//   power_cut_files rename TOP FOLDERS MORIX  runs MORIX --rename over them (exec)
//   power_cut_files check TOP FOLDERS         compares every file by content
//   power_cut_files reset TOP FOLDERS         puts files under new names back
//
// 20,000 names in FOLDERS folders of equal size (one folder: a rotation of
// 6,000 files, 1,500 swapped pairs, a chain of 8,000 whose first target is
// free, and 3,000 files whose new names are free). With "--sort none -t
// f######" the path given in the k-th place gets the name f(k). Each file
// holds its old name, so a file found anywhere tells which file it is.
//
// check prints one line "state old|new files N" and exits 0 when every file
// is under its old name or every file under its new name, nothing lost,
// doubled or left under a temporary name; otherwise it names each fault and
// ends with "state mixed ...", and exits 1.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kNames = 20000;
constexpr int kFreeFiles = 30000;  // the files with free new names are numbered from here

std::string Name(int number) {
    char name[16];
    std::snprintf(name, sizeof name, "f%06d", number);
    return name;
}

// One name of the run: the k-th path given gets the name f(k); the file it
// is given to, and the folder both are in.
struct Step {
    int k, file;
    std::string folder;
};

// The run over folders subfolders of equal size, each with the same mix: 30 %
// a rotation, 15 % swapped pairs, 40 % a chain whose first target is free,
// 15 % free names.
std::vector<Step> Steps(int folders) {
    std::vector<Step> steps;
    const int per = kNames / folders;
    const int rotation = per * 30 / 100, swapsEnd = per * 45 / 100, chainEnd = per * 85 / 100;
    for (int f = 0; f < folders; ++f) {
        char folder[16];
        std::snprintf(folder, sizeof folder, "d%02d", f);
        const int base = f * per;
        for (int i = 1; i <= per; ++i) {
            int file;
            if (i <= rotation) {
                file = i == rotation ? 1 : i + 1;
            } else if (i <= swapsEnd) {
                file = (i - rotation) % 2 == 1 ? i + 1 : i - 1;
            } else if (i <= chainEnd) {
                file = i + 1;  // the name swapsEnd + 1 is free: the chain's end
            } else {
                file = kFreeFiles + i;
            }
            steps.push_back(Step{base + i, base + file, folder});
        }
    }
    return steps;
}

using Listing = std::map<std::string, std::string>;  // folder/name -> content

Listing Before(int folders) {
    Listing listing;
    for (const Step& s : Steps(folders))
        listing[s.folder + "/" + Name(s.file)] = Name(s.file);
    return listing;
}

Listing After(int folders) {
    Listing listing;
    for (const Step& s : Steps(folders))
        listing[s.folder + "/" + Name(s.k)] = Name(s.file);
    return listing;
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

Listing ReadFolder(const std::filesystem::path& top) {
    Listing listing;
    for (const auto& folder : std::filesystem::directory_iterator(top)) {
        const std::string folderName = folder.path().filename().string();
        if (folderName == "lost+found") continue;
        if (!folder.is_directory()) {
            listing[folderName] = Read(folder.path().string());
            continue;
        }
        for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
            listing[folderName + "/" + entry.path().filename().string()] =
                Read(entry.path().string());
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

int Rename(const std::string& top, int folders, const std::string& morix) {
    std::vector<std::string> args = {morix, "--rename", "--sort", "none", "-t", "f######", "--"};
    for (const Step& s : Steps(folders))
        args.push_back(top + "/" + s.folder + "/" + Name(s.file));
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

// Back to the old names from the new ones, for the next trial: name by name
// in an order where each name is free when it is taken — every file first
// under a spare name, then each to its old name.
int Reset(const std::string& top, int folders) {
    const auto move = [&](const std::string& from, const std::string& to) {
        if (::renameat2(AT_FDCWD, (top + "/" + from).c_str(), AT_FDCWD, (top + "/" + to).c_str(),
                        RENAME_NOREPLACE) != 0) {
            std::fprintf(stderr, "cannot rename %s to %s: %s\n", from.c_str(), to.c_str(),
                         std::strerror(errno));
            return false;
        }
        return true;
    };
    bool ok = true;
    const std::vector<Step> steps = Steps(folders);
    for (const Step& s : steps)
        ok = ok && move(s.folder + "/" + Name(s.k), s.folder + "/r" + Name(s.file));
    for (const Step& s : steps)
        ok = ok && move(s.folder + "/r" + Name(s.file), s.folder + "/" + Name(s.file));
    ::sync();
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 3 ? argv[1] : "";
    const int folders = argc > 3 ? std::atoi(argv[3]) : 0;
    if (folders < 1 || folders > 100) {
        std::fprintf(stderr,
                     "usage: power_cut_files make|rename|check|reset TOP FOLDERS [MORIX]\n");
        return 2;
    }
    if (command == "make") return Make(argv[2], folders);
    if (command == "rename" && argc > 4) return Rename(argv[2], folders, argv[4]);
    if (command == "check") return Check(argv[2], folders);
    if (command == "reset") return Reset(argv[2], folders);
    return 2;
}
