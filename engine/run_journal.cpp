#include "engine/run_journal.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <unordered_map>

#include "engine/flat_hash_index.h"

namespace morix {
namespace {

constexpr std::string_view kHeader = "morix run journal 1\n";

// From this many names on, one pass over the folder's entries is cheaper than
// a query per name.
constexpr std::size_t kListFolderFrom = 64;

std::uint32_t Crc32(std::string_view text) {
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes lengths as uInt; feed large texts in pieces.
    while (!text.empty()) {
        const auto piece = static_cast<uInt>(std::min<std::size_t>(text.size(), 1u << 30));
        crc = crc32(crc, reinterpret_cast<const Bytef*>(text.data()), piece);
        text.remove_prefix(piece);
    }
    return static_cast<std::uint32_t>(crc);
}

template <typename Number>
void AppendNumber(std::string& out, Number value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

void AppendField(std::string& out, std::string_view bytes) {
    AppendNumber(out, bytes.size());
    out += ':';
    out += bytes;
}

// Reads the journal text front to back; every step fails softly.
class Reader {
  public:
    explicit Reader(std::string_view text) : text_(text) {}

    bool Literal(std::string_view expected) {
        if (text_.substr(pos_, expected.size()) != expected) return false;
        pos_ += expected.size();
        return true;
    }

    template <typename Number>
    bool Decimal(Number& value) {
        const char* begin = text_.data() + pos_;
        const char* end = text_.data() + text_.size();
        if (begin == end || *begin < '0' || *begin > '9') {
            if (!(std::is_signed_v<Number> && begin != end && *begin == '-')) return false;
        }
        const auto [next, error] = std::from_chars(begin, end, value);
        if (error != std::errc()) return false;
        pos_ += static_cast<std::size_t>(next - begin);
        return true;
    }

    bool Hex32(std::uint32_t& value) {
        if (text_.size() - pos_ < 8) return false;
        const char* begin = text_.data() + pos_;
        // Lower-case digits only, as written: one spelling per value.
        for (const char* c = begin; c != begin + 8; ++c) {
            if (!((*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'f'))) return false;
        }
        const auto [next, error] = std::from_chars(begin, begin + 8, value, 16);
        if (error != std::errc() || next != begin + 8) return false;
        pos_ += 8;
        return true;
    }

    bool Field(std::string& bytes) {
        std::size_t length = 0;
        if (!Decimal(length) || !Literal(":") || length > text_.size() - pos_) return false;
        bytes.assign(text_.substr(pos_, length));
        pos_ += length;
        return true;
    }

    std::size_t Position() const { return pos_; }
    std::size_t Remaining() const { return text_.size() - pos_; }
    bool AtEnd() const { return pos_ == text_.size(); }

  private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

bool ValidName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

bool ValidFolder(std::string_view path) {
    return (path.empty() || path.front() == '/') && path.find('\0') == std::string_view::npos &&
           (path.size() < 2 || path.back() != '/');
}

int OpenFolder(const std::string& folder) {
    return open(folder.empty() ? "/" : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

std::uint64_t InodeAt(int folderFd, const std::string& name) {
    struct stat st;
    if (fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return 0;
    return st.st_ino;
}

// Inode numbers from one pass over the folder's entries. False when the
// entries' numbers do not agree with what the files themselves report (some
// FUSE volumes list no numbers at all).
bool InodesFromListing(int folderFd, const std::vector<std::string_view>& names,
                       std::vector<std::uint64_t>& inodes) {
    FlatHashIndex index;
    index.Reserve(names.size());
    for (std::uint32_t i = 0; i < names.size(); ++i) {
        index.Insert(HashBytes(names[i]), i,
                     [&](std::uint32_t other) { return names[other] == names[i]; });
    }
    const int listFd = dup(folderFd);
    DIR* dir = listFd >= 0 ? fdopendir(listFd) : nullptr;
    if (dir == nullptr) {
        if (listFd >= 0) close(listFd);
        return false;
    }
    rewinddir(dir);
    errno = 0;
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name = entry->d_name;
        const std::uint32_t found =
            index.Find(HashBytes(name), [&](std::uint32_t id) { return names[id] == name; });
        if (found != FlatHashIndex::kNone) inodes[found] = entry->d_ino;
        errno = 0;
    }
    const bool complete = errno == 0;
    closedir(dir);
    if (!complete) return false;
    // Check the first and the last entry found against the files themselves.
    std::size_t checked = 0;
    for (std::size_t i = 0; i < names.size() && checked == 0; ++i) {
        if (inodes[i] != 0) {
            if (InodeAt(folderFd, std::string(names[i])) != inodes[i]) return false;
            ++checked;
        }
    }
    for (std::size_t i = names.size(); i-- > 0 && checked == 1;) {
        if (inodes[i] != 0) {
            if (InodeAt(folderFd, std::string(names[i])) != inodes[i]) return false;
            ++checked;
        }
    }
    return true;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// The lines of the record, shared by the writer and FormatJournal.
void AppendHeading(std::string& out, std::int64_t pid, std::int64_t started) {
    out += kHeader;
    out += "pid ";
    AppendNumber(out, pid);
    out += "\nstarted ";
    AppendNumber(out, started);
    out += '\n';
}

void AppendFolderLine(std::string& out, std::uint64_t device, std::size_t files,
                      std::string_view path) {
    out += "folder ";
    AppendNumber(out, device);
    out += ' ';
    AppendNumber(out, files);
    out += ' ';
    AppendField(out, path);
    out += '\n';
}

void AppendFileLine(std::string& out, std::uint64_t inode, std::string_view oldName,
                    std::string_view newName) {
    AppendNumber(out, inode);
    out += ' ';
    AppendField(out, oldName);
    out += ' ';
    AppendField(out, newName);
    out += '\n';
}

// The counts and the checksum of everything before.
void AppendLastLine(std::string& out, std::size_t folders, std::size_t files) {
    const std::uint32_t crc = Crc32(out);
    out += "end ";
    AppendNumber(out, folders);
    out += ' ';
    AppendNumber(out, files);
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", crc);
    out += ' ';
    out += hex;
    out += '\n';
}

}  // namespace

std::size_t JournalRecord::FileCount() const {
    std::size_t count = 0;
    for (const JournalFolder& folder : folders)
        count += folder.files.size();
    return count;
}

std::string FormatJournal(const JournalRecord& record) {
    std::string out;
    std::size_t size = 128;
    for (const JournalFolder& folder : record.folders) {
        size += folder.path.size() + 48;
        for (const JournalFile& file : folder.files)
            size += file.oldName.size() + file.newName.size() + 32;
    }
    out.reserve(size);
    AppendHeading(out, record.pid, record.started);
    for (const JournalFolder& folder : record.folders) {
        AppendFolderLine(out, folder.device, folder.files.size(), folder.path);
        for (const JournalFile& file : folder.files)
            AppendFileLine(out, file.inode, file.oldName, file.newName);
    }
    AppendLastLine(out, record.folders.size(), record.FileCount());
    return out;
}

std::variant<JournalRecord, std::string> ParseJournal(std::string_view text) {
    Reader in(text);
    JournalRecord record;
    if (!in.Literal(kHeader)) return std::string("not a rename journal of this program");
    if (!in.Literal("pid ") || !in.Decimal(record.pid) || !in.Literal("\n") ||
        !in.Literal("started ") || !in.Decimal(record.started) || !in.Literal("\n")) {
        return std::string("damaged heading");
    }
    std::size_t files = 0;
    for (;;) {
        const std::size_t endAt = in.Position();
        if (in.Literal("end ")) {
            std::size_t folderCount = 0, fileCount = 0;
            std::uint32_t crc = 0;
            if (!in.Decimal(folderCount) || !in.Literal(" ") || !in.Decimal(fileCount) ||
                !in.Literal(" ") || !in.Hex32(crc) || !in.Literal("\n") || !in.AtEnd()) {
                return std::string("damaged last line");
            }
            if (folderCount != record.folders.size() || fileCount != files) {
                return std::string("the counts do not match the record");
            }
            if (crc != Crc32(text.substr(0, endAt))) {
                return std::string("the checksum does not match: the record is damaged");
            }
            return record;
        }
        if (in.AtEnd()) return std::string("the record is cut short");
        JournalFolder folder;
        std::size_t count = 0;
        if (!in.Literal("folder ") || !in.Decimal(folder.device) || !in.Literal(" ") ||
            !in.Decimal(count) || !in.Literal(" ") || !in.Field(folder.path) || !in.Literal("\n") ||
            !ValidFolder(folder.path)) {
            return in.AtEnd() ? std::string("the record is cut short")
                              : std::string("damaged folder line");
        }
        // Every file line takes at least 9 bytes; a larger count cannot be true.
        if (count > in.Remaining() / 9) return std::string("the record is cut short");
        folder.files.resize(count);
        for (JournalFile& file : folder.files) {
            if (!in.Decimal(file.inode) || !in.Literal(" ") || !in.Field(file.oldName) ||
                !in.Literal(" ") || !in.Field(file.newName) || !in.Literal("\n")) {
                return in.AtEnd() ? std::string("the record is cut short")
                                  : std::string("damaged file line");
            }
            if (!ValidName(file.oldName) || !ValidName(file.newName)) {
                return std::string("a file name in the record is not valid");
            }
        }
        files += count;
        record.folders.push_back(std::move(folder));
    }
}

int ReadInodes(const std::string& folder, const std::vector<std::string_view>& names,
               std::uint64_t& device, std::vector<std::uint64_t>& inodes) {
    const int fd = OpenFolder(folder);
    if (fd < 0) return errno;
    struct stat st;
    if (fstat(fd, &st) != 0) {
        const int error = errno;
        close(fd);
        return error;
    }
    device = st.st_dev;
    inodes.assign(names.size(), 0);
    if (names.size() < kListFolderFrom || !InodesFromListing(fd, names, inodes)) {
        inodes.assign(names.size(), 0);
    }
    // Names the listing did not show as asked (a volume that stores another
    // spelling) and small sets: ask the file itself.
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (inodes[i] == 0) inodes[i] = InodeAt(fd, std::string(names[i]));
    }
    close(fd);
    return 0;
}

int SyncFolder(const std::string& folder) {
    const int fd = OpenFolder(folder);
    if (fd < 0) return errno;
    const int result = fsync(fd) == 0 ? 0 : errno;
    close(fd);
    return result;
}

RunJournal::RunJournal(std::string folder) : folder_(std::move(folder)) {}

RunJournal::~RunJournal() {
    // A journal that was not finished stays on disk: its run left files
    // where only the record can find them.
    if (fd_ >= 0) close(fd_);
}

bool RunJournal::Fail(const std::string& what, int error) {
    error_ = what + ": " + std::strerror(error);
    return false;
}

bool RunJournal::Begin(const std::vector<std::string>& oldPaths,
                       const std::vector<std::string>& newPaths) {
    return Prepare(oldPaths, newPaths) && Commit();
}

bool RunJournal::Prepare(const std::vector<std::string>& oldPaths,
                         const std::vector<std::string>& newPaths) {
    text_.clear();
    runFolders_.clear();
    const std::int64_t pid = getpid();
    const std::int64_t started = std::time(nullptr);
    // The files that move, by folder in order of appearance; every name is
    // a view into the paths.
    struct Group {
        std::string folder;
        std::vector<std::uint32_t> jobs;
    };
    std::vector<Group> groups;
    std::unordered_map<std::string_view, std::size_t> groupOf;
    std::size_t last = 0;
    const auto slashOf = [&](std::uint32_t j) { return oldPaths[j].rfind('/'); };
    for (std::uint32_t j = 0; j < oldPaths.size(); ++j) {
        if (oldPaths[j] == newPaths[j]) continue;
        const std::size_t slash = slashOf(j);
        const std::string_view folder(oldPaths[j].data(), slash == std::string::npos ? 0 : slash);
        // Runs mostly stay in one folder: the last group first.
        if (groups.empty() || groups[last].folder != folder) {
            const auto [at, fresh] = groupOf.try_emplace(folder, groups.size());
            if (fresh) groups.push_back({std::string(folder), {}});
            last = at->second;
        }
        groups[last].jobs.push_back(j);
    }

    std::string text;
    text.reserve(128 + oldPaths.size() * (oldPaths.empty() ? 0 : oldPaths[0].size() + 24));
    AppendHeading(text, pid, started);
    std::size_t folders = 0, files = 0;
    std::vector<std::string_view> names;
    std::vector<std::uint64_t> inodes;
    for (const Group& group : groups) {
        names.clear();
        for (std::uint32_t j : group.jobs)
            names.push_back(std::string_view(oldPaths[j]).substr(slashOf(j) + 1));
        std::uint64_t device = 0;
        if (const int error = ReadInodes(group.folder, names, device, inodes); error != 0)
            return Fail(group.folder.empty() ? "/" : group.folder, error);
        // A file that is not there cannot move (the run will stop at it)
        // and needs no record.
        const auto present = static_cast<std::size_t>(
            std::count_if(inodes.begin(), inodes.end(), [](std::uint64_t i) { return i != 0; }));
        if (present == 0) continue;
        AppendFolderLine(text, device, present, group.folder);
        for (std::size_t k = 0; k < group.jobs.size(); ++k) {
            if (inodes[k] == 0) continue;
            const std::uint32_t j = group.jobs[k];
            AppendFileLine(text, inodes[k], names[k],
                           std::string_view(newPaths[j]).substr(newPaths[j].rfind('/') + 1));
        }
        runFolders_.push_back(group.folder);
        ++folders;
        files += present;
    }
    if (folders == 0) return true;  // nothing moves
    AppendLastLine(text, folders, files);
    text_ = std::move(text);
    base_ = folder_ + "/run-" + std::to_string(pid) + '-' + std::to_string(started) + '-';
    return true;
}

bool RunJournal::Commit() {
    if (text_.empty()) return error_.empty();  // nothing moves, or Prepare failed
    // Written under a name that recovery passes over, locked, flushed, and
    // only then given its real name: a journal is never seen half written.
    std::string temp;
    for (int n = 0; fd_ < 0; ++n) {
        if (n == 1000) return Fail(folder_, EEXIST);
        path_ = base_ + std::to_string(n) + std::string(kJournalSuffix);
        temp = base_ + std::to_string(n) + std::string(kUnfinishedJournalSuffix);
        struct stat st;
        if (lstat(path_.c_str(), &st) == 0) continue;
        fd_ = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd_ < 0 && errno != EEXIST) return Fail(folder_, errno);
    }
    const auto abandon = [&](int error) {
        unlink(temp.c_str());
        close(fd_);
        fd_ = -1;
        return Fail(path_, error);
    };
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0) return abandon(errno);
    if (!WriteAll(fd_, text_) || fsync(fd_) != 0) return abandon(errno);
    if (renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path_.c_str(), RENAME_NOREPLACE) != 0)
        return abandon(errno);
    if (const int error = SyncFolder(folder_); error != 0) {
        unlink(path_.c_str());
        close(fd_);
        fd_ = -1;
        return Fail(folder_, error);
    }
    text_.clear();
    text_.shrink_to_fit();
    return true;
}

void RunJournal::Finish() {
    if (fd_ < 0) return;
    // The new names reach the disk before the record of the old ones goes.
    for (const std::string& folder : runFolders_)
        SyncFolder(folder);
    unlink(path_.c_str());
    SyncFolder(folder_);
    close(fd_);
    fd_ = -1;
}

}  // namespace morix
