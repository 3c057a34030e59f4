// Capture dates read from real photo and video files made by the test, the
// text forms of the dates, the cache that reads each file once, and names and
// sorting by the date taken with files that fall back to their modified time.
#include "engine/capture_date.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/capture_date_cache.h"
#include "engine/paths.h"
#include "engine/preview.h"
#include "engine/sorting.h"
#include "support/media_samples.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace morix {
namespace {

using testing::MetadataValues;
using testing::TakenAt;
using testing::TempDir;

// Local time nine hours ahead of UTC, without daylight saving, for the dates
// that are stored in UTC.
class NineHoursAhead {
  public:
    NineHoursAhead() { ::tzset(); }
    ~NineHoursAhead() {
        zone_.reset();
        ::tzset();
    }

  private:
    std::optional<testing::ScopedEnv> zone_{std::in_place, "TZ", "KST-9"};
};

std::optional<LocalTime> At(int y, int mo, int d, int h, int mi, int s) {
    return LocalTime{y, mo, d, h, mi, s};
}

std::string Shown(const std::optional<LocalTime>& t) {
    if (!t) return "none";
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t->year, t->month, t->day,
                  t->hour, t->minute, t->second);
    return text;
}

// 2020-01-01 00:00:00 UTC in seconds since 1904.
constexpr std::uint32_t kNewYear2020Utc = 3'660'681'600u;

struct SampleCase {
    const char* what;
    const char* name;
    std::function<void(const std::string&)> make;
    std::optional<LocalTime> expected;
};

TEST(ReadCaptureDate, FromEveryKindOfFile) {
    const NineHoursAhead zone;
    TempDir dir;
    using testing::WriteBytes;
    const std::vector<SampleCase> cases = {
        {"JPEG: DateTimeOriginal as the camera wrote it", "original.jpg",
         [](const std::string& p) { testing::WriteJpeg(p, TakenAt("2003:10:04 03:10:45")); },
         At(2003, 10, 4, 3, 10, 45)},
        {"JPEG: DateTimeOriginal wins over DateTimeDigitized", "both.jpg",
         [](const std::string& p) {
             testing::WriteJpeg(p, {{"Exif.Photo.DateTimeDigitized", "2001:01:01 01:01:01"},
                                    {"Exif.Photo.DateTimeOriginal", "2002:02:02 02:02:02"}});
         },
         At(2002, 2, 2, 2, 2, 2)},
        {"JPEG: only DateTimeDigitized", "digitized.jpg",
         [](const std::string& p) {
             testing::WriteJpeg(p, {{"Exif.Photo.DateTimeDigitized", "2004:05:06 07:08:09"}});
         },
         At(2004, 5, 6, 7, 8, 9)},
        {"JPEG: a zero original date counts as none, the digitized one follows", "zero.jpg",
         [](const std::string& p) {
             testing::WriteJpeg(p, {{"Exif.Photo.DateTimeOriginal", "0000:00:00 00:00:00"},
                                    {"Exif.Photo.DateTimeDigitized", "2005:06:07 08:09:10"}});
         },
         At(2005, 6, 7, 8, 9, 10)},
        {"JPEG: only a zero date", "only-zero.jpg",
         [](const std::string& p) { testing::WriteJpeg(p, TakenAt("0000:00:00 00:00:00")); },
         std::nullopt},
        {"JPEG: blank date", "blank.jpg",
         [](const std::string& p) { testing::WriteJpeg(p, TakenAt("    :  :     :  :  ")); },
         std::nullopt},
        {"JPEG without EXIF", "plain.jpg", [](const std::string& p) { testing::WriteJpeg(p, {}); },
         std::nullopt},
        {"JPEG with a camera's maker note and thumbnail", "camera.jpg",
         [](const std::string& p) {
             testing::WriteJpeg(p,
                                {{"Exif.Image.Make", "Canon"},
                                 {"Exif.Image.Model", "Canon EOS 5D"},
                                 {"Exif.Canon.OwnerName", "Ann"},
                                 {"Exif.Photo.DateTimeOriginal", "2006:07:08 09:10:11"}},
                                6000);
         },
         At(2006, 7, 8, 9, 10, 11)},
        {"TIFF", "scan.tif",
         [](const std::string& p) {
             WriteBytes(p, testing::TiffBytes(TakenAt("2007:08:09 10:11:12")));
         },
         At(2007, 8, 9, 10, 11, 12)},
        {"raw file in a TIFF container (DNG), date in IFD0", "raw.dng",
         [](const std::string& p) {
             WriteBytes(
                 p, testing::TiffBytes({{"Exif.Image.Make", "NIKON CORPORATION"},
                                        {"Exif.Image.DNGVersion", "1 4 0 0"},
                                        {"Exif.Image.DateTimeOriginal", "2008:09:10 11:12:13"}}));
         },
         At(2008, 9, 10, 11, 12, 13)},
        {"PNG with an XMP creation date and a zone offset, taken as written", "xmp.png",
         [](const std::string& p) {
             testing::WritePngWithXmp(p, {{"Xmp.xmp.CreateDate", "2011-02-03T04:05:06+01:00"}});
         },
         At(2011, 2, 3, 4, 5, 6)},
        {"PNG with an XMP date in UTC, shown in local time", "xmp-utc.png",
         [](const std::string& p) {
             testing::WritePngWithXmp(p, {{"Xmp.photoshop.DateCreated", "2011-02-03T20:00:00Z"}});
         },
         At(2011, 2, 4, 5, 0, 0)},
        {"HEIC with EXIF", "phone.heic",
         [](const std::string& p) {
             WriteBytes(p, testing::HeicBytes(TakenAt("2019:12:31 23:59:58")));
         },
         At(2019, 12, 31, 23, 59, 58)},
        {"MP4: the creation time is UTC, shown in local time", "clip.mp4",
         [](const std::string& p) { WriteBytes(p, testing::MovieBytes(kNewYear2020Utc, false)); },
         At(2020, 1, 1, 9, 0, 0)},
        {"MOV: the same in QuickTime's own brand", "clip.mov",
         [](const std::string& p) { WriteBytes(p, testing::MovieBytes(kNewYear2020Utc, true)); },
         At(2020, 1, 1, 9, 0, 0)},
        {"MP4 whose creation time was never set", "unset.mp4",
         [](const std::string& p) { WriteBytes(p, testing::MovieBytes(0, false)); }, std::nullopt},
        {"MOV whose first atom claims more than the file holds (kept the reader busy for "
         "minutes)",
         "long-atom.mov",
         [](const std::string& p) {
             std::string bytes = testing::MovieBytes(kNewYear2020Utc, true);
             bytes.replace(0, 4, "\x31\x00\x00\x14", 4);
             WriteBytes(p, bytes);
         },
         std::nullopt},
        {"MP4 whose movie header claims more than its movie holds", "long-header.mp4",
         [](const std::string& p) {
             std::string bytes = testing::MovieBytes(kNewYear2020Utc, false);
             bytes.replace(bytes.find("mvhd") - 4, 4, "\x00\x47\x00\x00", 4);
             WriteBytes(p, bytes);
         },
         std::nullopt},
        {"MOV: the media data first, in an atom sized in 64 bits, then a movie header of "
         "version 1 with 64-bit times",
         "camera.mov",
         [](const std::string& p) {
             using namespace testing::box;
             const std::string when = U32(0) + U32(kNewYear2020Utc);
             const std::string mvhd =
                 FullBox("mvhd", 1, when + when + U32(1000) + std::string(8, '\0'));
             WriteBytes(p, Box("ftyp", std::string("qt  ") + U32(0x200) + "qt  ") + U32(1) +
                               "mdat" + U32(0) + U32(16 + 64) + std::string(64, 'x') +
                               Box("moov", mvhd));
         },
         At(2020, 1, 1, 9, 0, 0)},
        {"MP4 whose movie is its last atom, sized as reaching the end of the file", "open.mp4",
         [](const std::string& p) {
             std::string bytes = testing::MovieBytes(kNewYear2020Utc, false);
             bytes.replace(bytes.find("moov") - 4, 4, std::string(4, '\0'));
             WriteBytes(p, bytes);
         },
         At(2020, 1, 1, 9, 0, 0)},
        {"MOV with an empty atom ahead of bytes that read as a long movie header (kept "
         "exiv2's QuickTime reader busy for minutes)",
         "empty-atom.mov",
         [](const std::string& p) {
             using namespace testing::box;
             WriteBytes(p, Box("ftyp", std::string("qt  ") + U32(0x200) + "qt  ") + U32(0) +
                               U32(0) + U32(0x7000'0000) + "mvhd" + std::string(64, '\0'));
         },
         std::nullopt},
        {"JPEG cut off inside its EXIF block", "truncated.jpg",
         [](const std::string& p) {
             testing::WriteJpeg(p, TakenAt("2003:10:04 03:10:45"), 2000);
             const std::string whole = testing::ReadBytes(p);
             WriteBytes(p, whole.substr(0, 300));
         },
         std::nullopt},
        {"text in a file named .jpg", "notes.jpg",
         [](const std::string& p) { WriteBytes(p, "2003:10:04 03:10:45 is when it was taken\n"); },
         std::nullopt},
        {"empty file", "empty.jpg", [](const std::string& p) { WriteBytes(p, ""); }, std::nullopt},
    };
    for (const SampleCase& c : cases) {
        const std::string path = dir.Path(c.name);
        c.make(path);
        EXPECT_EQ(Shown(ReadCaptureDate(DecodeFileName(path))), Shown(c.expected)) << c.what;
    }
}

TEST(ReadCaptureDate, NothingButRegularFilesIsOpened) {
    TempDir dir;
    // A named pipe that nobody writes to would block a reader forever.
    const std::string fifo = dir.Path("pipe.jpg");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(ReadCaptureDate(DecodeFileName(fifo)), std::nullopt);
    EXPECT_EQ(ReadCaptureDate(DecodeFileName(dir.MakeFolder("folder.jpg"))), std::nullopt);
    EXPECT_EQ(ReadCaptureDate(dir.U16Path("missing.jpg")), std::nullopt);
    EXPECT_EQ(ReadCaptureDate(u""), std::nullopt);
}

TEST(CaptureDateText, ExifXmpAndQuickTimeForms) {
    const NineHoursAhead zone;
    // EXIF takes the six numbers at their places whatever separates them.
    struct Case {
        const char* text;
        std::optional<LocalTime> exif;
        std::optional<LocalTime> xmp;
    };
    const Case cases[] = {
        {"2003:10:04 03:10:45", At(2003, 10, 4, 3, 10, 45), std::nullopt},
        {"2003-10-04 03:10:45", At(2003, 10, 4, 3, 10, 45), std::nullopt},
        {"2003:10:04 03:10:45\0", At(2003, 10, 4, 3, 10, 45), std::nullopt},
        {"0000:00:00 00:00:00", std::nullopt, std::nullopt},
        {"2003:13:04 03:10:45", std::nullopt, std::nullopt},
        {"2003:02:29 03:10:45", std::nullopt, std::nullopt},
        {"2004:02:29 03:10:45", At(2004, 2, 29, 3, 10, 45), std::nullopt},
        {"2003:10:04 24:00:00", std::nullopt, std::nullopt},
        {"2003:10:04 03:60:00", std::nullopt, std::nullopt},
        {"2003:10:04", std::nullopt, std::nullopt},
        {"2003:10:04 03:1", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
        {"2003-10-04", std::nullopt, At(2003, 10, 4, 0, 0, 0)},
        {"2003-10-04T03:10", std::nullopt, At(2003, 10, 4, 3, 10, 0)},
        {"2003-10-04T03:10:45.25-05:00", At(2003, 10, 4, 3, 10, 45), At(2003, 10, 4, 3, 10, 45)},
        {"2003-10-04T20:10:45Z", At(2003, 10, 4, 20, 10, 45), At(2003, 10, 5, 5, 10, 45)},
        // The last day EXIF can write, but in UTC: past what the clock counts.
        {"9999-12-31T23:59:59Z", At(9999, 12, 31, 23, 59, 59), std::nullopt},
        {"9999-12-31T23:59:59-01:00", At(9999, 12, 31, 23, 59, 59), At(9999, 12, 31, 23, 59, 59)},
        // And long before it: the count must not overflow on the way.
        {"0203-10-04Z", std::nullopt, std::nullopt},
        {"1700-01-01T00:00:00Z", At(1700, 1, 1, 0, 0, 0), At(1700, 1, 1, 9, 0, 0)},
        {"2003-10-04T03:10:45+0100", At(2003, 10, 4, 3, 10, 45), std::nullopt},
        {"2003-10-04T3:10", std::nullopt, std::nullopt},
        {"2003-00-04", std::nullopt, std::nullopt},
        {"2003", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Shown(ParseExifDate(c.text)), Shown(c.exif)) << "EXIF " << c.text;
        EXPECT_EQ(Shown(ParseXmpDate(c.text)), Shown(c.xmp)) << "XMP " << c.text;
    }
    EXPECT_EQ(Shown(FromQuickTimeSeconds(kNewYear2020Utc)), Shown(At(2020, 1, 1, 9, 0, 0)));
    EXPECT_EQ(FromQuickTimeSeconds(0), std::nullopt);
    EXPECT_EQ(FromQuickTimeSeconds(UINT64_MAX), std::nullopt);
}

// A folder of photos, one without a capture date, each with a modified time
// of its own.
struct PhotoFolder {
    TempDir dir;
    RenameList list;
    std::vector<std::uint32_t> rows;

    void Add(const std::string& name, const MetadataValues& exif, std::int64_t modified) {
        const std::string path = dir.Path(name);
        testing::WriteJpeg(path, exif);
        TempDir::SetModified(path, modified);
        list.AddItem(DecodeFileName(path));
        rows.push_back(static_cast<std::uint32_t>(rows.size()));
    }
    std::vector<std::u16string> Names(const std::vector<std::uint32_t>& order) const {
        std::vector<std::u16string> names;
        for (std::uint32_t item : order)
            names.emplace_back(list.ItemAt(item).name);
        return names;
    }
};

TEST(CaptureDateCache, ReadsAFileAgainOnlyWhenItsSizeOrTimeChanged) {
    PhotoFolder f;
    f.Add("a.jpg", TakenAt("2001:01:01 01:01:01"), 1'000'000'000);
    f.Add("b.jpg", {}, 1'000'000'000);
    CaptureDateCache cache;
    const auto read = [&] {
        return cache.DatesOf(f.list, f.rows, ReadAllFileFacts(f.list, f.rows));
    };
    EXPECT_EQ(cache.HasCaptureDate(f.list.ItemAt(0).Whole()), std::nullopt);
    EXPECT_EQ(Shown(read()[0]), Shown(At(2001, 1, 1, 1, 1, 1)));
    EXPECT_EQ(cache.HasCaptureDate(f.list.ItemAt(0).Whole()), true);
    EXPECT_EQ(cache.HasCaptureDate(f.list.ItemAt(1).Whole()), false);

    // Another date of the same length, the modified time put back: the
    // file looks unchanged, so the date kept is the one given out.
    const std::string a = EncodeFileName(f.list.ItemAt(0).Whole());
    testing::WriteJpeg(a, TakenAt("2002:02:02 02:02:02"));
    TempDir::SetModified(a, 1'000'000'000);
    EXPECT_EQ(Shown(read()[0]), Shown(At(2001, 1, 1, 1, 1, 1)));
    // A new modified time makes it read again.
    TempDir::SetModified(a, 1'000'000'001);
    EXPECT_EQ(Shown(read()[0]), Shown(At(2002, 2, 2, 2, 2, 2)));
    cache.Clear();
    EXPECT_EQ(cache.HasCaptureDate(f.list.ItemAt(0).Whole()), std::nullopt);
}

TEST(DateTaken, NamesAndSortFallBackToTheModifiedTime) {
    const NineHoursAhead zone;
    PhotoFolder f;
    // 2001-09-09 10:46:40 local for the files without a capture date.
    constexpr std::int64_t kModified = 1'000'000'000;
    f.Add("a.jpg", TakenAt("2005:05:05 05:05:05"), kModified);
    f.Add("b.jpg", {}, kModified);
    f.Add("c.jpg", TakenAt("1999:12:31 23:00:00"), kModified + 60);
    f.Add("d.jpg", TakenAt("0000:00:00 00:00:00"), kModified - 60);

    RenameOptions options;
    options.nameTemplate = u"<YYYY-MM-DD HH_mm_ss>";
    NameRegistry registry;
    CaptureDateCache cache;
    const auto names = [&] {
        const NameList list = ComputeNewNames(f.list, f.rows, options, registry, &cache);
        std::vector<std::u16string> out;
        for (std::size_t r = 0; r < list.size(); ++r)
            out.emplace_back(list[r]);
        return out;
    };
    EXPECT_EQ(names(),
              (std::vector<std::u16string>{u"2001-09-09 10_46_40.jpg", u"2001-09-09 10_46_40_2.jpg",
                                           u"2001-09-09 10_47_40.jpg", u"2001-09-09 10_45_40.jpg"}))
        << "modified times unless asked otherwise";
    EXPECT_EQ(cache.HasCaptureDate(f.list.ItemAt(0).Whole()), std::nullopt)
        << "no capture date read for names made with modified times";

    options.dateSource = DateSource::kTaken;
    EXPECT_EQ(names(), (std::vector<std::u16string>{
                           u"2005-05-05 05_05_05.jpg", u"2001-09-09 10_46_40.jpg",
                           u"1999-12-31 23_00_00.jpg", u"2001-09-09 10_45_40.jpg"}));
    // The current-time fields stay the clock's.
    options.nameTemplate = u"<TYYYY>";
    char year[16];
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    std::snprintf(year, sizeof year, "%04d", tm.tm_year + 1900);
    EXPECT_EQ(names()[0], DecodeFileName(std::string(year) + ".jpg"));

    std::vector<std::uint32_t> rows = f.rows;
    SortRows(f.list, rows, SortKey::kModifiedTime, false);
    EXPECT_EQ(f.Names(rows), (std::vector<std::u16string>{u"d.jpg", u"a.jpg", u"b.jpg", u"c.jpg"}));
    SortRows(f.list, rows, SortKey::kModifiedTime, false, DateSource::kTaken, &cache);
    EXPECT_EQ(f.Names(rows), (std::vector<std::u16string>{u"c.jpg", u"d.jpg", u"b.jpg", u"a.jpg"}))
        << "capture dates and modified times in one order, the zero date fallen back";
    SortRows(f.list, rows, SortKey::kModifiedTime, true, DateSource::kTaken);
    EXPECT_EQ(f.Names(rows), (std::vector<std::u16string>{u"a.jpg", u"b.jpg", u"d.jpg", u"c.jpg"}));
}

}  // namespace
}  // namespace morix
