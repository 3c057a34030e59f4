// Questions about files on disk. Every call asks the file system anew; nothing
// is cached, so a preview always shows the disk as it is now.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/paths.h"
#include "os/held_folder.h"

namespace morix {

// Broken-down local time, month 1-12.
struct LocalTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Last-write time in nanoseconds since 1970-01-01 UTC.
using FileTime = std::int64_t;

// What one attribute query tells about a file: the size (0 when unreadable)
// and the last-write time (nullopt when unreadable).
struct FileFacts {
    std::uint64_t size = 0;
    std::optional<FileTime> modified;
};

// One attribute query for both facts.
FileFacts ReadFileFacts(std::u16string_view path);

// ReadFileFacts for many paths in a row: while consecutive paths share a
// folder, the folder stays open and only the name is looked up in it.
class FileFactsReader {
  public:
    FileFacts Read(const PathParts& file);

  private:
    std::u16string folder_;
    std::string folderBytes_;  // folder_ as bytes
    HeldFolder held_;
    std::string bytes_;
};

// True when anything occupies the path (a file, a folder, a dangling link).
// False for an empty path.
bool FileExists(std::u16string_view path);

// Size in bytes; 0 when it cannot be read.
std::uint64_t FileSize(std::u16string_view path);

// Last-write time; nullopt when it cannot be read.
std::optional<FileTime> ModifiedTime(std::u16string_view path);

// Last-write time in the current time zone; nullopt when unavailable.
std::optional<LocalTime> LocalModifiedTime(std::u16string_view path);

// The present moment in the current time zone.
std::optional<LocalTime> CurrentLocalTime();

// Converts a FileTime to local broken-down time.
std::optional<LocalTime> ToLocalTime(FileTime time);

// Seconds since 1970-01-01 00:00 of a broken-down time read as UTC.
std::int64_t SecondsAsUtc(const LocalTime& time);

// The names of the entries directly inside a folder that are not folders
// themselves (a link to a folder counts as a folder), in the order the file
// system lists them, into names: the bytes of each, followed by a NUL. 0, or
// the errno that kept the folder from being read to its end.
int ListFolderFileNames(std::u16string_view folder, std::string& names);

}  // namespace morix
