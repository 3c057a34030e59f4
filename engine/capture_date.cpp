#include "engine/capture_date.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <string>

#include "engine/text.h"
#include "os/unique_fd.h"

// exiv2 0.27 hands its objects out in std::auto_ptr.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>
#include <exiv2/quicktimevideo.hpp>

namespace morix {
namespace {

// exiv2's global switches, set once: no messages on stderr about the files it
// reads, the XMP toolkit guarded for use from several threads, and the
// ISO base media formats (HEIC, AVIF, CR3) turned on.
void PrepareExiv2() {
    static std::once_flag once;
    std::call_once(once, [] {
        static std::mutex xmpLock;
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize(
            [](void* data, bool lock) {
                auto* m = static_cast<std::mutex*>(data);
                lock ? m->lock() : m->unlock();
            },
            &xmpLock);
        Exiv2::enableBMFF(true);
    });
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

bool IsValid(const LocalTime& t) {
    return t.year >= 1 && t.year <= 9999 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
           t.day <= DaysInMonth(t.year, t.month) && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 &&
           t.minute <= 59 && t.second >= 0 && t.second <= 59;
}

// The decimal number of exactly count digits at text[at...].
std::optional<int> Digits(std::string_view text, std::size_t at, std::size_t count) {
    if (at + count > text.size()) return std::nullopt;
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// Before 1685 or after 2255, nanoseconds since 1970 no longer fit; no
// camera goes there.
constexpr std::int64_t kLatestSecond = 9'000'000'000;

std::optional<LocalTime> UtcToLocal(const LocalTime& utc) {
    const std::int64_t seconds = SecondsAsUtc(utc);
    if (seconds > kLatestSecond || seconds < -kLatestSecond) return std::nullopt;
    return ToLocalTime(seconds * 1'000'000'000);
}

template <typename Data, typename Key>
std::optional<std::string> TextOf(const Data& data, const Key& key) {
    const auto it = data.findKey(key);
    if (it == data.end()) return std::nullopt;
    return it->toString();
}

// The first date of keys, in their order, that parse reads. The keys are
// made once: making one looks its name up in exiv2's tables of tags.
template <typename Data, typename Key, std::size_t count>
std::optional<LocalTime> FirstDate(const Data& data, const std::array<Key, count>& keys,
                                   std::optional<LocalTime> (*parse)(std::string_view)) {
    for (const Key& key : keys) {
        if (const auto text = TextOf(data, key)) {
            if (const auto date = parse(*text)) return date;
        }
    }
    return std::nullopt;
}

std::optional<LocalTime> FromExif(const Exiv2::ExifData& exif) {
    // IFD0 holds the original date in some TIFF/EP raw files.
    static const std::array<Exiv2::ExifKey, 3> keys = {
        Exiv2::ExifKey("Exif.Photo.DateTimeOriginal"),
        Exiv2::ExifKey("Exif.Image.DateTimeOriginal"),
        Exiv2::ExifKey("Exif.Photo.DateTimeDigitized"),
    };
    return FirstDate(exif, keys, ParseExifDate);
}

std::optional<LocalTime> FromXmp(const Exiv2::XmpData& xmp) {
    static const std::array<Exiv2::XmpKey, 3> keys = {
        Exiv2::XmpKey("Xmp.exif.DateTimeOriginal"),
        Exiv2::XmpKey("Xmp.photoshop.DateCreated"),
        Exiv2::XmpKey("Xmp.xmp.CreateDate"),
    };
    return FirstDate(xmp, keys, ParseXmpDate);
}

std::uint64_t BigEndian(const unsigned char* bytes, int count) {
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | bytes[i];
    return value;
}

// An atom of a QuickTime or ISO base media file: its type, and where its
// contents begin and end.
struct Atom {
    char type[4];
    std::uint64_t contents;
    std::uint64_t end;
};

// The atom at `at`, which must fit in what holds it, [at, end).
std::optional<Atom> ReadAtom(int fd, std::uint64_t at, std::uint64_t end) {
    unsigned char header[16];
    if (end - at < 8 || ::pread(fd, header, 8, static_cast<off_t>(at)) != 8) return std::nullopt;
    std::uint64_t size = BigEndian(header, 4);
    std::uint64_t headerSize = 8;
    if (size == 1) {  // the size follows in 64 bits
        if (end - at < 16 || ::pread(fd, header + 8, 8, static_cast<off_t>(at + 8)) != 8)
            return std::nullopt;
        size = BigEndian(header + 8, 8);
        headerSize = 16;
    } else if (size == 0) {  // to the end of what holds it
        size = end - at;
    }
    if (size < headerSize || size > end - at) return std::nullopt;
    Atom atom;
    std::memcpy(atom.type, header + 4, 4);
    atom.contents = at + headerSize;
    atom.end = at + size;
    return atom;
}

// The first atom of the given type among those in [begin, end). budget
// bounds the atoms looked at, so a damaged file ends the search early.
std::optional<Atom> FindAtom(int fd, std::uint64_t begin, std::uint64_t end, std::string_view type,
                             int& budget) {
    for (std::uint64_t at = begin; end - at >= 8 && --budget >= 0;) {
        const std::optional<Atom> atom = ReadAtom(fd, at, end);
        if (!atom) return std::nullopt;
        if (std::string_view(atom->type, 4) == type) return atom;
        at = atom->end;
    }
    return std::nullopt;
}

// The creation time in the movie header (moov/mvhd) of a QuickTime or MP4
// file. exiv2 0.27's own QuickTime reader is not used for it: a few bytes
// that declare a long atom keep it busy for minutes, and it reads some atoms
// into buffers smaller than they are.
std::optional<LocalTime> MovieCreated(int fd, std::uint64_t fileSize) {
    int budget = 10'000;
    const std::optional<Atom> movie = FindAtom(fd, 0, fileSize, "moov", budget);
    if (!movie) return std::nullopt;
    const std::optional<Atom> header = FindAtom(fd, movie->contents, movie->end, "mvhd", budget);
    if (!header) return std::nullopt;
    // A version byte and three bytes of flags, then the creation time in 32
    // bits (version 0) or 64 (version 1).
    unsigned char fields[12];
    const int wanted = header->end - header->contents >= 12 ? 12 : 8;
    if (header->end - header->contents < 8 ||
        ::pread(fd, fields, wanted, static_cast<off_t>(header->contents)) != wanted) {
        return std::nullopt;
    }
    if (fields[0] == 0) return FromQuickTimeSeconds(BigEndian(fields + 4, 4));
    if (fields[0] == 1 && wanted == 12) return FromQuickTimeSeconds(BigEndian(fields + 4, 8));
    return std::nullopt;
}

// exiv2's factory asks every kind of file it knows whether the file is one
// of it, which takes longer than reading a JPEG's EXIF. JPEG, what cameras
// and phones write most, is told by its first three bytes.
Exiv2::Image::AutoPtr OpenImage(const std::string& source, int fd) {
    unsigned char start[3];
    if (::pread(fd, start, sizeof start, 0) == 3 && start[0] == 0xFF && start[1] == 0xD8 &&
        start[2] == 0xFF) {
        return Exiv2::Image::AutoPtr(
            new Exiv2::JpegImage(Exiv2::BasicIo::AutoPtr(new Exiv2::FileIo(source)), false));
    }
    return Exiv2::ImageFactory::open(source, false);
}

std::optional<LocalTime> FromMetadata(Exiv2::Image& image) {
    image.readMetadata();
    if (auto date = FromExif(image.exifData())) return date;
    return FromXmp(image.xmpData());
}

// source names the file open as fd, of fileSize bytes.
std::optional<LocalTime> ReadWithExiv2(const std::string& source, int fd, std::uint64_t fileSize) {
    Exiv2::Image::AutoPtr image = OpenImage(source, fd);
    if (image.get() == nullptr) return std::nullopt;
    // exiv2 0.27's readers of videos give no date read here but the movie
    // header's.
    if (image->imageType() == Exiv2::ImageType::qtime) return MovieCreated(fd, fileSize);
    if (image->mimeType().rfind("video/", 0) == 0) return std::nullopt;
    if (image->imageType() != Exiv2::ImageType::bmff) return FromMetadata(*image);
    // MP4 files share the ISO base media format with HEIC and are taken for
    // one by exiv2, which reads no movie and refuses some that it does not
    // follow; their movie header is QuickTime's.
    std::optional<LocalTime> date;
    try {
        date = FromMetadata(*image);
    } catch (const Exiv2::AnyError&) {
    }
    return date ? date : MovieCreated(fd, fileSize);
}

}  // namespace

std::optional<LocalTime> ParseExifDate(std::string_view text) {
    const auto year = Digits(text, 0, 4);
    const auto month = Digits(text, 5, 2);
    const auto day = Digits(text, 8, 2);
    const auto hour = Digits(text, 11, 2);
    const auto minute = Digits(text, 14, 2);
    const auto second = Digits(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
    const LocalTime t{*year, *month, *day, *hour, *minute, *second};
    if (!IsValid(t)) return std::nullopt;
    return t;
}

std::optional<LocalTime> ParseXmpDate(std::string_view text) {
    const auto year = Digits(text, 0, 4);
    const auto month = Digits(text, 5, 2);
    const auto day = Digits(text, 8, 2);
    if (!year || !month || !day || text[4] != '-' || text[7] != '-') return std::nullopt;
    LocalTime t{*year, *month, *day, 0, 0, 0};
    std::size_t at = 10;
    if (at < text.size() && text[at] == 'T') {
        const auto hour = Digits(text, 11, 2);
        const auto minute = Digits(text, 14, 2);
        if (!hour || !minute || text[13] != ':') return std::nullopt;
        t.hour = *hour;
        t.minute = *minute;
        at = 16;
        if (at < text.size() && text[at] == ':') {
            const auto second = Digits(text, 17, 2);
            if (!second) return std::nullopt;
            t.second = *second;
            at = 19;
            if (at < text.size() && text[at] == '.') {
                ++at;
                while (at < text.size() && text[at] >= '0' && text[at] <= '9')
                    ++at;
            }
        }
    }
    if (!IsValid(t)) return std::nullopt;
    if (at == text.size()) return t;
    if (text.substr(at) == "Z") return UtcToLocal(t);
    // An offset: hh:mm after the sign.
    const std::string_view zone = text.substr(at);
    if (zone.size() == 6 && (zone[0] == '+' || zone[0] == '-') && zone[3] == ':' &&
        Digits(zone, 1, 2) && Digits(zone, 4, 2)) {
        return t;
    }
    return std::nullopt;
}

std::optional<LocalTime> FromQuickTimeSeconds(std::uint64_t seconds) {
    constexpr std::uint64_t kFrom1904To1970 = 2'082'844'800;
    if (seconds == 0 || seconds > kFrom1904To1970 + kLatestSecond) return std::nullopt;
    const auto unixSeconds =
        static_cast<std::int64_t>(seconds) - static_cast<std::int64_t>(kFrom1904To1970);
    const std::optional<LocalTime> local = ToLocalTime(unixSeconds * 1'000'000'000);
    if (!local || !IsValid(*local)) return std::nullopt;
    return local;
}

std::optional<LocalTime> ReadCaptureDate(std::u16string_view path) {
    if (path.empty()) return std::nullopt;
    PrepareExiv2();
    // Only regular files: opening a named pipe or a device to read its
    // header could wait forever or disturb it. exiv2 then opens the very file
    // checked here, through its descriptor, whatever happens to the name.
    const UniqueFd fd(
        ::open(EncodeFileName(path).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st;
    if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    try {
        return ReadWithExiv2("/proc/self/fd/" + std::to_string(fd.Get()), fd.Get(),
                             static_cast<std::uint64_t>(st.st_size));
    } catch (...) {
        // Whatever a damaged file makes the library throw, the file simply
        // has no capture date.
        return std::nullopt;
    }
}

}  // namespace morix

#pragma GCC diagnostic pop
