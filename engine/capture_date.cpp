#include "engine/capture_date.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
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

// Beyond 2255 nanoseconds since 1970 no longer fit; no camera goes there.
constexpr std::int64_t kLatestSecond = 9'000'000'000;

std::optional<LocalTime> UtcToLocal(const LocalTime& utc) {
    const std::int64_t seconds = SecondsAsUtc(utc);
    if (seconds > kLatestSecond) return std::nullopt;
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

std::optional<LocalTime> FromQuickTime(const Exiv2::XmpData& xmp) {
    static const Exiv2::XmpKey key("Xmp.video.DateUTC");
    const auto text = TextOf(xmp, key);
    if (!text) return std::nullopt;
    std::uint64_t seconds = 0;
    const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), seconds);
    if (ec != std::errc() || end != text->data() + text->size()) return std::nullopt;
    return FromQuickTimeSeconds(seconds);
}

std::uint64_t BigEndian(const unsigned char* bytes, int count) {
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | bytes[i];
    return value;
}

// exiv2 0.27 walks the atoms of a QuickTime file by the sizes they declare,
// and one that declares more than the file holds sends it round a loop for
// every four bytes declared: minutes or hours for a few bytes of file. So
// the atoms are checked first, those inside the containers too: each must
// fit in what holds it. budget bounds the atoms looked at.
bool AtomsFit(int fd, std::uint64_t begin, std::uint64_t end, int depth, int& budget) {
    static constexpr std::string_view kContainers[] = {
        "moov", "trak", "edts", "mdia", "minf", "dinf", "stbl", "udta", "mvex",
        "moof", "traf", "tref", "meta", "ilst", "gmhd", "clip", "matt",
    };
    for (std::uint64_t at = begin; end - at >= 8;) {
        if (--budget < 0) return false;
        unsigned char header[16];
        if (::pread(fd, header, 8, static_cast<off_t>(at)) != 8) return false;
        std::uint64_t size = BigEndian(header, 4);
        std::uint64_t headerSize = 8;
        if (size == 1) {  // the size follows in 64 bits
            if (end - at < 16 || ::pread(fd, header + 8, 8, static_cast<off_t>(at + 8)) != 8)
                return false;
            size = BigEndian(header + 8, 8);
            headerSize = 16;
        } else if (size == 0) {  // to the end
            size = end - at;
        }
        if (size < headerSize || size > end - at) return false;
        const std::string_view type(reinterpret_cast<const char*>(header + 4), 4);
        const bool container = std::find(std::begin(kContainers), std::end(kContainers), type) !=
                               std::end(kContainers);
        if (container &&
            (depth >= 16 || !AtomsFit(fd, at + headerSize, at + size, depth + 1, budget))) {
            return false;
        }
        at += size;
    }
    return true;
}

bool AtomsFit(int fd, std::uint64_t fileSize) {
    int budget = 100'000;
    return AtomsFit(fd, 0, fileSize, 0, budget);
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

// source names the file open as fd, of fileSize bytes.
std::optional<LocalTime> ReadWithExiv2(const std::string& source, int fd, std::uint64_t fileSize) {
    Exiv2::Image::AutoPtr image = OpenImage(source, fd);
    if (image.get() == nullptr) return std::nullopt;
    if (image->imageType() == Exiv2::ImageType::qtime && !AtomsFit(fd, fileSize))
        return std::nullopt;
    image->readMetadata();
    if (auto date = FromExif(image->exifData())) return date;
    if (auto date = FromXmp(image->xmpData())) return date;
    switch (image->imageType()) {
        case Exiv2::ImageType::qtime:
            return FromQuickTime(image->xmpData());
        case Exiv2::ImageType::bmff: {
            // MP4 files share the ISO base media format with HEIC and are
            // taken for one by exiv2; their movie header is QuickTime's.
            if (!AtomsFit(fd, fileSize)) return std::nullopt;
            Exiv2::QuickTimeVideo video(Exiv2::BasicIo::AutoPtr(new Exiv2::FileIo(source)));
            video.readMetadata();
            return FromQuickTime(video.xmpData());
        }
        default:
            return std::nullopt;
    }
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
