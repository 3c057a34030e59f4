#include "engine/run_history.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>
#include <string_view>

namespace morix {
namespace {

constexpr std::string_view kPrefix = "history-";
constexpr std::string_view kKeptSuffix = ".run";
constexpr std::string_view kUndoneSuffix = ".undone";
// A record larger than this is not one this program wrote.
constexpr std::uint64_t kMaxRecordBytes = std::uint64_t{1} << 30;

std::string RecordPath(const std::string& folder, std::uint64_t id, bool undone) {
    return folder + '/' + std::string(kPrefix) + std::to_string(id) +
           std::string(undone ? kUndoneSuffix : kKeptSuffix);
}

// The run a file name of the folder records, if it is a record.
std::optional<KeptRun> RunOfName(std::string_view name) {
    if (!name.starts_with(kPrefix)) return std::nullopt;
    name.remove_prefix(kPrefix.size());
    KeptRun run;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), run.id);
    if (error != std::errc() || end == name.data() || run.id == 0 || name.front() == '0')
        return std::nullopt;
    const std::string_view rest(end, static_cast<std::size_t>(name.data() + name.size() - end));
    if (rest == kUndoneSuffix) {
        run.undone = true;
    } else if (rest != kKeptSuffix) {
        return std::nullopt;
    }
    return run;
}

// Renames from to to without ever replacing to: where the volume has no
// such rename, through a second name.
int RenameNoReplace(FileSystem& fs, const std::string& from, const std::string& to) {
    int error = fs.Rename(from, to, RenameMode::kNoReplace);
    if (error == EINVAL || error == ENOSYS) {
        error = fs.Link(from, to);
        if (error == 0) fs.Unlink(from);
    }
    return error;
}

}  // namespace

int ListKeptRuns(FileSystem& fs, const std::string& folder, std::vector<KeptRun>& runs) {
    runs.clear();
    std::vector<std::string> names;
    if (const int error = fs.ListNames(folder, names); error != 0) return error;
    for (const std::string& name : names) {
        if (std::optional<KeptRun> run = RunOfName(name)) {
            run->path = folder + '/' + name;
            runs.push_back(std::move(*run));
        }
    }
    std::sort(runs.begin(), runs.end(),
              [](const KeptRun& a, const KeptRun& b) { return a.id > b.id; });
    return 0;
}

std::string KeepRunRecord(FileSystem& fs, const std::string& folder, const std::string& journalPath,
                          OsError& error) {
    std::vector<KeptRun> runs;
    if (const int e = ListKeptRuns(fs, folder, runs); e != 0) {
        error = {"list", folder, e};
        return {};
    }
    std::uint64_t id = runs.empty() ? 1 : runs.front().id + 1;
    std::string path;
    // Another process keeping its run at the same moment takes the id first.
    for (int attempt = 0;; ++attempt, ++id) {
        path = RecordPath(folder, id, false);
        const int e = RenameNoReplace(fs, journalPath, path);
        if (e == 0) break;
        if (e != EEXIST || attempt == 100) {
            error = {"rename", journalPath, e};
            return {};
        }
    }
    if (const int e = SyncFolder(fs, folder); e != 0) {
        // Not durable: the journal goes as it would without a keeper.
        fs.Unlink(path);
        error = {"flush", folder, e};
        return {};
    }
    if (ListKeptRuns(fs, folder, runs) == 0) {
        for (std::size_t k = kKeptRuns; k < runs.size(); ++k)
            fs.Unlink(runs[k].path);
    }
    return path;
}

std::variant<JournalRecord, std::string> ReadKeptRun(FileSystem& fs, const KeptRun& run) {
    UniqueFd fd;
    if (const int error = fs.OpenFile(run.path, false, fd); error != 0)
        return run.path + ": " + std::strerror(error);
    FileIdentity self;
    if (const int error = fs.IdentifyOpen(fd.Get(), self); error != 0)
        return run.path + ": " + std::strerror(error);
    if (self.size > kMaxRecordBytes) return std::string("the record is too large");
    std::string text(static_cast<std::size_t>(self.size), '\0');
    if (const int error = fs.ReadAll(fd.Get(), text); error != 0)
        return error == ENODATA ? std::string("the record is cut short")
                                : run.path + ": " + std::strerror(error);
    auto parsed = ParseJournal(text);
    if (const auto* record = std::get_if<JournalRecord>(&parsed); record && !record->finished)
        return std::string("the record is not marked finished");
    return parsed;
}

std::uint64_t KeptRunId(const std::string& path) {
    const std::optional<KeptRun> run =
        RunOfName(std::string_view(path).substr(path.rfind('/') + 1));
    return run ? run->id : 0;
}

int MarkUndone(FileSystem& fs, const std::string& folder, KeptRun& run) {
    const std::string undone = RecordPath(folder, run.id, true);
    if (const int error = RenameNoReplace(fs, run.path, undone); error != 0) return error;
    run.path = undone;
    run.undone = true;
    return SyncFolder(fs, folder);
}

}  // namespace morix
