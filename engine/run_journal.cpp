#include "engine/run_journal.h"

#include <stdio.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <optional>
#include <unordered_map>

#include "engine/content_print.h"
#include "engine/flat_hash_index.h"
#include "engine/safe_move.h"

namespace morix {
namespace {

constexpr std::string_view kHeader = "morix run journal 3\n";
constexpr std::string_view kHeaderWithoutPrints = "morix run journal 2\n";
constexpr std::string_view kOlderHeader = "morix run journal 1\n";
constexpr std::string_view kStageLines[] = {"stage 1\n", "stage 2\n"};
constexpr std::string_view kFinishedLine = "finished\n";

// The checksum of text, or of the text that gave crc followed by text.
std::uint32_t Crc32(std::string_view text, std::uint32_t crc = 0) {
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

    // A number of exactly as many hex digits as Number has nibbles.
    template <typename Number>
    bool Hex(Number& value) {
        constexpr std::size_t kDigits = sizeof(Number) * 2;
        if (text_.size() - pos_ < kDigits) return false;
        const char* begin = text_.data() + pos_;
        // Lower-case digits only, as written: one spelling per value.
        for (const char* c = begin; c != begin + kDigits; ++c) {
            if (!((*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'f'))) return false;
        }
        const auto [next, error] = std::from_chars(begin, begin + kDigits, value, 16);
        if (error != std::errc() || next != begin + kDigits) return false;
        pos_ += kDigits;
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

// The lines of the record, shared by the writer and FormatJournal.
void AppendHeading(std::string& out, std::int64_t pid, std::int64_t started) {
    out += kHeader;
    out += "pid ";
    AppendNumber(out, pid);
    out += "\nstarted ";
    AppendNumber(out, started);
    out += '\n';
}

void AppendFolderLine(std::string& out, std::uint64_t device, bool stableInodes,
                      std::size_t files, std::string_view volume, std::string_view path) {
    out += "folder ";
    AppendNumber(out, device);
    out += stableInodes ? " 1 " : " 0 ";
    AppendNumber(out, files);
    out += ' ';
    AppendField(out, volume);
    out += ' ';
    AppendField(out, path);
    out += '\n';
}

void AppendFileLine(std::string& out, const FileIdentity& id,
                    const std::optional<std::uint64_t>& print, std::string_view oldName,
                    std::string_view newName, std::string_view parkName) {
    AppendNumber(out, id.inode);
    out += ' ';
    AppendNumber(out, id.size);
    out += ' ';
    AppendNumber(out, id.mtimeSec);
    out += ' ';
    AppendNumber(out, id.mtimeNsec);
    if (id.btimeSec == kNoBirthTime) {
        out += " - 0";
    } else {
        out += ' ';
        AppendNumber(out, id.btimeSec);
        out += ' ';
        AppendNumber(out, id.btimeNsec);
    }
    out += id.folder ? " d " : " f ";
    if (print) {
        char hex[17];
        std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(*print));
        out += hex;
    } else {
        out += '-';
    }
    out += ' ';
    AppendField(out, oldName);
    out += ' ';
    AppendField(out, newName);
    out += ' ';
    AppendField(out, parkName);
    out += '\n';
}

void AppendMarks(std::string& out, int stage, bool finished) {
    for (int k = 1; k <= stage && k <= 2; ++k)
        out += kStageLines[k - 1];
    if (finished) out += kFinishedLine;
}

// The file name of a path in bytes.
std::string_view NameView(std::string_view path) {
    return path.substr(path.rfind('/') + 1);
}

// The counts and the checksum of everything before (crc).
void AppendLastLine(std::string& out, std::size_t folders, std::size_t files, std::uint32_t crc) {
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
        size += folder.path.size() + folder.volume.size() + 48;
        for (const JournalFile& file : folder.files)
            size += file.oldName.size() + file.newName.size() + file.parkName.size() + 96;
    }
    out.reserve(size);
    AppendHeading(out, record.pid, record.started);
    for (const JournalFolder& folder : record.folders) {
        AppendFolderLine(out, folder.device, folder.stableInodes, folder.files.size(),
                         folder.volume, folder.path);
        for (const JournalFile& file : folder.files)
            AppendFileLine(out, file.identity, file.print, file.oldName, file.newName,
                           file.parkName);
    }
    AppendLastLine(out, record.folders.size(), record.FileCount(), Crc32(out));
    AppendMarks(out, record.stage, record.finished);
    return out;
}

// The lines appended after the last line: stage marks in order, then the
// finish mark. A last mark without its line break was cut short while being
// written: it was not made.
std::optional<std::string> ParseMarks(std::string_view rest, JournalRecord& record) {
    const auto next = [&](std::string_view line) {
        if (record.finished) return false;
        if (record.stage < 2 && kStageLines[record.stage].starts_with(line)) {
            if (line.ends_with('\n')) ++record.stage;
            return true;
        }
        if (kFinishedLine.starts_with(line)) {
            record.finished = line.ends_with('\n');
            return true;
        }
        return false;
    };
    while (!rest.empty()) {
        const std::size_t lineEnd = rest.find('\n');
        const std::string_view line =
            lineEnd == std::string_view::npos ? rest : rest.substr(0, lineEnd + 1);
        if (!next(line)) return std::string("damaged text after the last line");
        rest.remove_prefix(line.size());
    }
    return std::nullopt;
}

std::variant<JournalRecord, std::string> ParseJournal(std::string_view text) {
    Reader in(text);
    JournalRecord record;
    if (text.starts_with(kOlderHeader))
        return std::string("written by an older version of this program, which this one cannot "
                           "check");
    const bool prints = in.Literal(kHeader);
    if (!prints && !in.Literal(kHeaderWithoutPrints))
        return std::string("not a rename journal of this program");
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
                !in.Literal(" ") || !in.Hex(crc) || !in.Literal("\n")) {
                return std::string("damaged last line");
            }
            if (folderCount != record.folders.size() || fileCount != files) {
                return std::string("the counts do not match the record");
            }
            if (crc != Crc32(text.substr(0, endAt))) {
                return std::string("the checksum does not match: the record is damaged");
            }
            if (auto fault = ParseMarks(text.substr(in.Position()), record)) return *fault;
            return record;
        }
        if (in.AtEnd()) return std::string("the record is cut short");
        JournalFolder folder;
        std::size_t count = 0;
        int stable = 0;
        if (!in.Literal("folder ") || !in.Decimal(folder.device) || !in.Literal(" ") ||
            !in.Decimal(stable) || stable > 1 || !in.Literal(" ") || !in.Decimal(count) ||
            !in.Literal(" ") || !in.Field(folder.volume) || !in.Literal(" ") ||
            !in.Field(folder.path) || !in.Literal("\n") || !ValidFolder(folder.path)) {
            return in.AtEnd() ? std::string("the record is cut short")
                              : std::string("damaged folder line");
        }
        folder.stableInodes = stable == 1;
        // Every file line takes at least 27 bytes; a larger count cannot be true.
        if (count > in.Remaining() / 27) return std::string("the record is cut short");
        folder.files.resize(count);
        for (JournalFile& file : folder.files) {
            FileIdentity& id = file.identity;
            bool fields = in.Decimal(id.inode) && in.Literal(" ") && in.Decimal(id.size) &&
                          in.Literal(" ") && in.Decimal(id.mtimeSec) && in.Literal(" ") &&
                          in.Decimal(id.mtimeNsec) && in.Literal(" ");
            if (fields && in.Literal("- 0")) {
                id.btimeSec = kNoBirthTime;
            } else {
                fields = fields && in.Decimal(id.btimeSec) && id.btimeSec != kNoBirthTime &&
                         in.Literal(" ") && in.Decimal(id.btimeNsec);
            }
            if (fields && in.Literal(" d ")) {
                id.folder = true;
            } else {
                fields = fields && in.Literal(" f ");
            }
            if (fields && prints && !in.Literal("- ")) {
                std::uint64_t print = 0;
                fields = in.Hex(print) && in.Literal(" ");
                file.print = print;
            }
            if (!fields || !in.Field(file.oldName) || !in.Literal(" ") ||
                !in.Field(file.newName) || !in.Literal(" ") || !in.Field(file.parkName) ||
                !in.Literal("\n")) {
                return in.AtEnd() ? std::string("the record is cut short")
                                  : std::string("damaged file line");
            }
            id.device = folder.device;
            if (id.mtimeNsec > 999999999 || id.btimeNsec > 999999999 ||
                !ValidName(file.oldName) || !ValidName(file.newName) ||
                !(file.parkName.empty() || ValidName(file.parkName))) {
                return std::string("a file name in the record is not valid");
            }
        }
        files += count;
        record.folders.push_back(std::move(folder));
    }
}

int SyncFolder(FileSystem& fs, const std::string& folder, bool* wholeVolume) {
    UniqueFd fd;
    if (const int error = fs.OpenFolder(folder, fd); error != 0) return error;
    if (wholeVolume) *wholeVolume = fs.SyncFlushesVolume(fd.Get());
    return fs.Sync(fd.Get(), false);
}

std::unordered_map<std::string, std::string> RenamedFolders(const JournalRecord& record) {
    std::unordered_map<std::string, std::string> renamed;
    for (const JournalFolder& folder : record.folders) {
        for (const JournalFile& file : folder.files) {
            if (file.identity.folder)
                renamed.emplace(folder.path + '/' + file.oldName, folder.path + '/' + file.newName);
        }
    }
    return renamed;
}

int SyncRunFolders(FileSystem& fs, const JournalRecord& record) {
    const auto renamed = RenamedFolders(record);
    FolderFlushes flushes(fs);
    for (const JournalFolder& folder : record.folders) {
        if (const int error = flushes.FlushWhereItStands(folder.path, folder.volume, renamed))
            return error;
    }
    return 0;
}

int FolderFlushes::Flush(const std::string& folder, const std::string& volume) {
    // A volume that could not be told apart from others is never passed over.
    if (!volume.empty() && flushedWhole_.contains(volume)) return 0;
    bool whole = false;
    const int error = SyncFolder(fs_, folder, &whole);
    if (error == 0 && whole && !volume.empty()) flushedWhole_.insert(volume);
    return error;
}

int FolderFlushes::FlushWhereItStands(
    const std::string& folder, const std::string& volume,
    const std::unordered_map<std::string, std::string>& renamed) {
    int error = Flush(folder, volume);
    // A folder the run renamed, or one inside it, is under its new path.
    if (error == ENOENT || error == ENOTDIR) error = Flush(PathAfterRenames(folder, renamed), volume);
    // One that is nowhere to be found any more (someone moved it) cannot be
    // flushed by this process; only the disk's own failure counts.
    return error == ENOENT || error == ENOTDIR ? 0 : error;
}

RunJournal::RunJournal(std::string folder, FileSystem& fs) : folder_(std::move(folder)), fs_(fs) {}

RunJournal::~RunJournal() = default;  // an unfinished record stays on disk for recovery

bool RunJournal::Fail(const char* operation, const std::string& path, int error) {
    error_ = OsError{operation, path, error};
    return false;
}

bool RunJournal::Begin(const std::vector<std::string>& oldPaths,
                       const std::vector<std::string>& newPaths) {
    std::vector<FileIdentity> identities(oldPaths.size());
    std::vector<std::uint8_t> stable(oldPaths.size(), 1);
    for (std::size_t j = 0; j < oldPaths.size(); ++j) {
        if (fs_.Identify(oldPaths[j], identities[j]) != 0) identities[j] = {};
    }
    const std::vector<std::string_view> from(oldPaths.begin(), oldPaths.end());
    const std::vector<std::string_view> to(newPaths.begin(), newPaths.end());
    return Prepare({from, to, identities, {}, stable}) && Commit();
}

bool RunJournal::Prepare(const JournalPlan& plan) {
    const auto& oldPaths = plan.oldPaths;
    const auto& newPaths = plan.newPaths;
    plan_.reset();
    groups_.clear();
    error_ = {};
    runFolders_.clear();
    renamedFolders_.clear();
    pid_ = getpid();
    started_ = std::time(nullptr);
    // The files that move, by folder in order of appearance.
    std::unordered_map<std::string_view, std::size_t> groupOf;
    std::size_t last = 0;
    for (std::uint32_t j = 0; j < oldPaths.size(); ++j) {
        // A file that is not there cannot move (the run stops before it
        // starts) and needs no record.
        if (oldPaths[j] == newPaths[j] || plan.identities[j].device == 0) continue;
        const std::string_view folder = FolderView(oldPaths[j]);
        // Runs mostly stay in one folder: the last group first.
        if (groups_.empty() || groups_[last].folder != folder) {
            const auto [at, fresh] = groupOf.try_emplace(folder, groups_.size());
            if (fresh) groups_.push_back({std::string(folder), {}, {}});
            last = at->second;
        }
        groups_[last].jobs.push_back(j);
        if (plan.identities[j].folder) renamedFolders_.emplace(oldPaths[j], newPaths[j]);
    }
    std::unordered_map<std::uint64_t, std::string> volumes;
    for (Group& group : groups_) {
        const std::uint64_t device = plan.identities[group.jobs.front()].device;
        auto volume = volumes.find(device);
        if (volume == volumes.end()) {
            std::string identity;
            if (const int error = fs_.VolumeOf(group.folder, identity); error != 0) {
                groups_.clear();
                return Fail("open", group.folder.empty() ? "/" : group.folder, error);
            }
            volume = volumes.emplace(device, std::move(identity)).first;
        }
        group.volume = volume->second;
        runFolders_.push_back({group.folder, group.volume});
    }
    if (groups_.empty()) return true;  // nothing moves
    // Where inode numbers are made up per mount, a file that a volume check
    // kept without its name can be told again only by its content.
    prints_.clear();
    for (const Group& group : groups_) {
        if (plan.stableInodes[group.jobs.front()] != 0) continue;
        prints_.resize(oldPaths.size());
        for (const std::uint32_t j : group.jobs) {
            const FileIdentity& id = plan.identities[j];
            if (!id.folder && id.size > 0) prints_[j] = ContentPrint(fs_, std::string(oldPaths[j]), id.size);
        }
    }
    // Without parking names the plan may name a list that ends with the
    // call (as Begin's does); the journal keeps its own empty one instead.
    static const std::vector<std::string> kNoParkNames;
    plan_.emplace(JournalPlan{plan.oldPaths, plan.newPaths, plan.identities,
                              plan.parkNames.empty() ? kNoParkNames : plan.parkNames,
                              plan.stableInodes});
    base_ = folder_ + "/run-" + std::to_string(pid_) + '-' + std::to_string(started_) + '-';
    return true;
}

int RunJournal::WriteRecord() {
    // Written in pieces of about this size: the record of a large run is
    // never held whole in memory.
    constexpr std::size_t kPiece = std::size_t{1} << 20;
    const JournalPlan& plan = *plan_;
    std::string piece;
    piece.reserve(kPiece + 16384);  // a piece ends after the line that passes kPiece
    std::uint32_t crc = 0;
    std::uint64_t offset = 0;
    const auto write = [&] {
        crc = Crc32(piece, crc);
        const int error = fs_.WriteAt(fd_.Get(), piece, offset);
        offset += piece.size();
        piece.clear();
        return error;
    };
    AppendHeading(piece, pid_, started_);
    std::size_t files = 0;
    for (const Group& group : groups_) {
        const std::uint32_t first = group.jobs.front();
        AppendFolderLine(piece, plan.identities[first].device, plan.stableInodes[first] != 0,
                         group.jobs.size(), group.volume, group.folder);
        for (const std::uint32_t j : group.jobs) {
            AppendFileLine(piece, plan.identities[j], prints_.empty() ? std::nullopt : prints_[j],
                           NameView(plan.oldPaths[j]), NameView(plan.newPaths[j]),
                           j < plan.parkNames.size() ? plan.parkNames[j] : std::string_view());
            if (piece.size() >= kPiece) {
                if (const int error = write(); error != 0) return error;
            }
        }
        files += group.jobs.size();
    }
    // The last line holds the checksum of everything written before it.
    crc = Crc32(piece, crc);
    std::string lastLine;
    AppendLastLine(lastLine, groups_.size(), files, crc);
    piece += lastLine;
    if (const int error = fs_.WriteAt(fd_.Get(), piece, offset); error != 0) return error;
    size_ = offset + piece.size();
    return 0;
}

bool RunJournal::Commit() {
    if (!plan_) return !error_.Failed();  // nothing moves, or Prepare failed
    if (const int error = fs_.OpenFolder(folder_, folderFd_); error != 0)
        return Fail("open", folder_, error);
    // Written under a name that recovery passes over, locked, flushed, and
    // only then given its real name: a journal is never seen half written.
    std::string temp;
    for (int n = 0; !fd_.Valid(); ++n) {
        if (n == 1000) return Fail("create", folder_, EEXIST);
        path_ = base_ + std::to_string(n) + std::string(kJournalSuffix);
        temp = base_ + std::to_string(n) + std::string(kUnfinishedJournalSuffix);
        if (fs_.Lstat(path_) == 0) continue;
        if (const int error = fs_.OpenFile(temp, true, fd_); error != 0 && error != EEXIST)
            return Fail("create", folder_, error);
    }
    name_ = path_.substr(folder_.size() + 1);
    const auto abandon = [&](const char* operation, int error) {
        fs_.Unlink(temp);
        fd_.Reset();
        return Fail(operation, path_, error);
    };
    if (const int error = fs_.LockFile(fd_.Get()); error != 0) return abandon("lock", error);
    if (const int error = WriteRecord(); error != 0) return abandon("write", error);
    if (const int error = fs_.Sync(fd_.Get(), false); error != 0) return abandon("flush", error);
    int error = fs_.Rename(temp, path_, RenameMode::kNoReplace);
    if (error == EINVAL || error == ENOSYS) {
        // A volume without no-replace renames: the name carries this
        // process's number and was free a moment ago, so no other process
        // takes it meanwhile.
        error = fs_.Rename(temp, path_, RenameMode::kPlain);
    }
    if (error != 0) return abandon("rename", error);
    if (error = fs_.Sync(folderFd_.Get(), false); error != 0) {
        fs_.Unlink(path_);
        fd_.Reset();
        return Fail("flush", folder_, error);
    }
    plan_.reset();
    // Freed, not only emptied: '= {}' would keep the vectors' memory.
    std::vector<Group>().swap(groups_);
    std::vector<std::optional<std::uint64_t>>().swap(prints_);
    return true;
}

namespace {

int AppendLine(FileSystem& fs, int fd, std::size_t size, std::string_view line) {
    int error = fs.WriteAt(fd, line, size);
    if (error == 0) error = fs.Sync(fd, true);
    return error;
}

}  // namespace

int AppendStageLine(FileSystem& fs, int fd, std::size_t size, int stage) {
    return stage < 1 || stage > 2 ? EINVAL : AppendLine(fs, fd, size, kStageLines[stage - 1]);
}

bool RunJournal::Append(std::string_view line) {
    if (const int error = AppendLine(fs_, fd_.Get(), size_, line); error != 0)
        return Fail("write", path_, error);
    size_ += line.size();
    return true;
}

bool RunJournal::MarkStage(int stage) {
    if (!fd_.Valid() || stage < 1 || stage > 2) return false;
    // The parking moves the mark speaks of reach the disk before it does:
    // after a power cut the next start looks for parked files only where the
    // last durable mark says they stand.
    return FlushFolders() && Append(kStageLines[stage - 1]);
}

bool RunJournal::FlushFolders() {
    FolderFlushes flushes(fs_);
    for (const auto& [folder, volume] : runFolders_) {
        if (const int error = flushes.FlushWhereItStands(folder, volume, renamedFolders_))
            return Fail("flush", folder.empty() ? "/" : folder, error);
    }
    return true;
}

std::string PathAfterRenames(const std::string& folder,
                             const std::unordered_map<std::string, std::string>& renamed) {
    std::string now;
    std::size_t end = 0;
    while (end < folder.size()) {
        const std::size_t next = std::min(folder.find('/', end + 1), folder.size());
        now.append(folder, end, next - end);
        const auto found = renamed.find(folder.substr(0, next));
        if (found != renamed.end()) {
            const std::string& newPath = found->second;
            now.resize(now.rfind('/') + 1);
            now.append(newPath, newPath.rfind('/') + 1);
        }
        end = next;
    }
    return now;
}

bool RunJournal::Finish(bool complete) {
    if (!fd_.Valid()) return true;
    // The new names reach the disk before the record says they are final;
    // the mark makes the record harmless even where it cannot be removed
    // (an unwritable folder) or its removal does not reach the disk. Names
    // that may not have reached it keep the record as it is: after a power
    // cut, the next start then puts every file back, never half of them.
    if (!FlushFolders()) return false;
    const bool marked = Append(kFinishedLine);
    if (marked && complete && keeper_) kept_ = keeper_(path_);
    const int removeError = kept_.empty() ? fs_.UnlinkAt(folderFd_.Get(), name_) : 0;
    const bool removed = removeError == 0;
    if (removed && kept_.empty()) fs_.Sync(folderFd_.Get(), false);
    if (!marked && !removed) {
        Fail("remove", path_, removeError);
        return false;
    }
    fd_.Reset();
    folderFd_.Reset();
    error_ = {};
    return true;
}

}  // namespace morix
