#include "engine/file_info.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>

#include "engine/paths.h"
#include "engine/text.h"
#include "os/dir_stream.h"

namespace morix {
namespace {

// stat, or lstat for a link whose target is gone: a dangling link still has
// a size and a time of its own.
bool StatPath(std::u16string_view path, struct stat& st) {
    if (path.empty()) return false;
    // Queries run once per file and token: reuse one buffer per thread.
    thread_local std::string bytes;
    bytes.clear();
    AppendFileNameBytes(bytes, path);
    return ::stat(bytes.c_str(), &st) == 0 || ::lstat(bytes.c_str(), &st) == 0;
}

// Nanoseconds since the epoch reach from 1677 to 2262; file systems store
// times far beyond (ext4 up to 2446, others more). Such a time is held at the
// nearest end of the range rather than overflowing, so it still sorts before
// or after every other.
FileTime ModifiedOf(const struct stat& st) {
    constexpr std::int64_t kPerSecond = 1'000'000'000;
    constexpr std::int64_t kMaxSeconds = std::numeric_limits<FileTime>::max() / kPerSecond - 1;
    const std::int64_t seconds = st.st_mtim.tv_sec;
    if (seconds > kMaxSeconds) return std::numeric_limits<FileTime>::max();
    if (seconds < -kMaxSeconds) return std::numeric_limits<FileTime>::min();
    return static_cast<FileTime>(seconds) * kPerSecond + st.st_mtim.tv_nsec;
}

}  // namespace

bool FileExists(std::u16string_view path) {
    if (path.empty()) return false;
    struct stat st;
    return ::lstat(EncodeFileName(path).c_str(), &st) == 0;
}

std::uint64_t FileSize(std::u16string_view path) {
    struct stat st;
    return StatPath(path, st) ? static_cast<std::uint64_t>(st.st_size) : 0;
}

std::optional<FileTime> ModifiedTime(std::u16string_view path) {
    struct stat st;
    if (!StatPath(path, st)) return std::nullopt;
    return ModifiedOf(st);
}

FileFacts FactsOf(const struct stat& st) {
    return FileFacts{static_cast<std::uint64_t>(st.st_size), ModifiedOf(st)};
}

FileFacts ReadFileFacts(std::u16string_view path) {
    struct stat st;
    if (!StatPath(path, st)) return {};
    return FactsOf(st);
}

FileFacts FileFactsReader::Read(const PathParts& file) {
    const std::u16string_view folder = file.Parent();
    // A path that ends in "/" names the folder itself, which no name inside
    // the open folder does.
    if (folder.empty() || file.name.empty()) return ReadFileFacts(file.Whole());
    if (folder != folder_) {
        folder_.assign(folder);
        folderBytes_.clear();
        AppendFileNameBytes(folderBytes_, folder);
    }
    const int folderFd = held_.Open(folderBytes_);
    if (folderFd < 0) return ReadFileFacts(file.Whole());
    bytes_.clear();
    AppendFileNameBytes(bytes_, file.name);
    struct stat st;
    if (::fstatat(folderFd, bytes_.c_str(), &st, 0) == 0 ||
        ::fstatat(folderFd, bytes_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        return FactsOf(st);
    }
    return {};
}

std::optional<LocalTime> ToLocalTime(FileTime time) {
    // Floor division keeps times before 1970 on the right second.
    std::int64_t seconds = time / 1'000'000'000;
    if (time % 1'000'000'000 < 0) --seconds;
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (::localtime_r(&t, &tm) == nullptr) return std::nullopt;
    return LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                     tm.tm_hour,        tm.tm_min,     tm.tm_sec};
}

std::int64_t SecondsAsUtc(const LocalTime& time) {
    std::tm tm{};
    tm.tm_year = time.year - 1900;
    tm.tm_mon = time.month - 1;
    tm.tm_mday = time.day;
    tm.tm_hour = time.hour;
    tm.tm_min = time.minute;
    tm.tm_sec = time.second;
    return static_cast<std::int64_t>(::timegm(&tm));
}

std::optional<LocalTime> LocalModifiedTime(std::u16string_view path) {
    const std::optional<FileTime> time = ModifiedTime(path);
    if (!time) return std::nullopt;
    return ToLocalTime(*time);
}

std::optional<LocalTime> CurrentLocalTime() {
    return ToLocalTime(static_cast<FileTime>(std::time(nullptr)) * 1'000'000'000);
}

int ListFolderFileNames(std::u16string_view folder, std::string& names) {
    names.clear();
    const std::string folderBytes = folder.empty() ? std::string("/") : EncodeFileName(folder);
    DirStream dir(folderBytes);
    if (dir.Error() != 0) return dir.Error();
    const int dirFd = dir.Fd();
    while (const dirent* entry = dir.Next()) {
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat st;
            isFolder = ::fstatat(dirFd, entry->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        if (!isFolder) names.append(entry->d_name, std::strlen(entry->d_name) + 1);
    }
    return dir.Error();
}

}  // namespace morix
