// Capture dates of the files in a list, each read once and kept with the size
// and modified time the file had then: a file is read again only when one of
// those has changed, so a preview pass per keystroke reads no file's
// metadata twice.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/file_info.h"
#include "engine/rename_list.h"

namespace morix {

class CaptureDateCache {
  public:
    // The capture date of the file of every row (nullopt when it has none),
    // parallel to rows; facts are the files' sizes and times, parallel to
    // rows too (ReadAllFileFacts). Files not read before, or changed since,
    // are read now, spread over the processor's cores.
    std::vector<std::optional<LocalTime>> DatesOf(const RenameList& list,
                                                  std::span<const std::uint32_t> rows,
                                                  std::span<const FileFacts> facts);

    // Whether the file at path had a capture date when it was last read;
    // nullopt when it has not been read.
    std::optional<bool> HasCaptureDate(std::u16string_view path) const;

    void Clear() { entries_.clear(); }

  private:
    struct Entry {
        std::uint64_t size = 0;
        std::optional<FileTime> modified;
        std::optional<LocalTime> taken;
    };
    struct PathHash {
        using is_transparent = void;
        std::size_t operator()(std::u16string_view path) const {
            return std::hash<std::u16string_view>{}(path);
        }
    };
    std::unordered_map<std::u16string, Entry, PathHash, std::equal_to<>> entries_;
};

// The times the rows are sorted by when sorting by the date taken: each
// file's capture date, else its modified time, both as local wall-clock
// time in nanoseconds (EXIF dates know no time zone, so an instant is not to
// be had for them); nullopt when neither can be read. Parallel to rows.
std::vector<std::optional<FileTime>> TakenSortTimes(const RenameList& list,
                                                    std::span<const std::uint32_t> rows,
                                                    std::span<const FileFacts> facts,
                                                    CaptureDateCache& cache);

}  // namespace morix
