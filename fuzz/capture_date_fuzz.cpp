// The capture-date reader on any file: exiv2 parses it as whatever kind of
// photo or video it looks like. Nothing may crash, hang or leak, and a date
// given out is a real date; the text forms of dates are checked the same way.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/capture_date.h"
#include "engine/text.h"
#include "fuzz/fuzz_support.h"

using namespace morix;
using morix::fuzz::Check;

namespace {

bool IsRealDate(const LocalTime& t) {
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return t.year >= 1 && t.year <= 9999 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
           t.day <= kDays[t.month - 1] && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 &&
           t.minute <= 59 && t.second >= 0 && t.second <= 59;
}

// One file for the whole run, written afresh for every input.
const std::string& SampleFile() {
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        std::string pattern = std::string(dir != nullptr ? dir : "/tmp") + "/capture-fuzz-XXXXXX";
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0) fuzz::Fail("cannot make the sample file");
        ::close(fd);
        std::atexit([] { ::unlink(SampleFile().c_str()); });
        return pattern;
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string& path = SampleFile();
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        Check(fd >= 0 && ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(size),
              "the sample file is written");
        ::close(fd);
    }
    const std::optional<LocalTime> taken = ReadCaptureDate(DecodeFileName(path));
    if (taken) Check(IsRealDate(*taken), "a capture date is a real date");

    // The text forms: what they accept is a real date, and an EXIF date
    // written back the way cameras write it reads the same.
    if (const std::optional<LocalTime> exif = ParseExifDate(bytes)) {
        Check(IsRealDate(*exif), "an EXIF date is a real date");
        char text[24];
        std::snprintf(text, sizeof text, "%04d:%02d:%02d %02d:%02d:%02d", exif->year, exif->month,
                      exif->day, exif->hour, exif->minute, exif->second);
        const std::optional<LocalTime> again = ParseExifDate(text);
        Check(again && again->year == exif->year && again->month == exif->month &&
                  again->day == exif->day && again->hour == exif->hour &&
                  again->minute == exif->minute && again->second == exif->second,
              "an EXIF date written back reads the same");
    }
    if (const std::optional<LocalTime> xmp = ParseXmpDate(bytes)) {
        Check(IsRealDate(*xmp), "an XMP date is a real date");
    }
    return 0;
}
