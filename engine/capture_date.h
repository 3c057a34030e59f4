// When a photo or video was taken, as the metadata inside the file says:
// EXIF and XMP read with exiv2, the QuickTime/MP4 movie header read here.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "engine/file_info.h"

namespace morix {

// The capture date of the file at path in local time, from the first of: EXIF
// DateTimeOriginal, EXIF DateTimeDigitized, the XMP dates of creation, the
// QuickTime/MP4 creation time. nullopt when the file has none that is valid,
// is no regular file, or cannot be read or understood; never throws. Safe to
// call from several threads at once.
std::optional<LocalTime> ReadCaptureDate(std::u16string_view path);

// The text forms, for the reader and its tests. EXIF writes the camera's wall
// clock as "YYYY:MM:DD HH:MM:SS" (any separators); it is taken as written.
// Zero, blank or impossible dates give nullopt.
std::optional<LocalTime> ParseExifDate(std::string_view text);
// ISO 8601 as XMP writes it: a date, optionally a time, optionally a zone. A
// time with a zone offset is the wall clock where it was taken and is taken
// as written; a time in UTC ("Z") is converted to local time.
std::optional<LocalTime> ParseXmpDate(std::string_view text);
// QuickTime counts seconds since 1904-01-01 UTC; 0 means unset.
std::optional<LocalTime> FromQuickTimeSeconds(std::uint64_t seconds);

}  // namespace morix
