// The whole new-name computation: sorting the rows, expanding the template
// and composing every new name under random options.
//
// Input, one field a line:
//   flags      0-7 case mode; x change the extension; c case-sensitive find;
//              r find is a regular expression; u no NFC; d descending; N E T S sort by name,
//              extension, time, size; K keep the order; @<int> start number; +<int> increment;
//              W also by the date taken
//   template
//   find
//   replace
//   new extension
//   names...   one item each: "/name" is a missing file in the root folder,
//              anything else lies in a folder of real files (a.txt, B.JPG, ...)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/file_info.h"
#include "engine/name_template.h"
#include "engine/new_name.h"
#include "engine/paths.h"
#include "engine/preview.h"
#include "engine/rename_list.h"
#include "engine/rename_options.h"
#include "engine/sorting.h"
#include "engine/text.h"
#include "fuzz/fuzz_support.h"

using namespace morix;
using morix::fuzz::Check;

namespace {

constexpr std::size_t kMaxItems = 48;

void MakeFile(const std::string& path, std::size_t size, std::time_t seconds, long nanoseconds) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) std::abort();
    const std::string content(size, 'x');
    std::fwrite(content.data(), 1, content.size(), file);
    std::fclose(file);
    const struct timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
}

// A folder of files with sizes and times worth naming, made once per process.
// It has a fixed name per user and is made again on every start, so runs
// leave one folder behind, not one each.
const std::string& FactsFolder() {
    static const std::string folder = [] {
        const char* tmp = std::getenv("TMPDIR");
        const std::string f = std::string(tmp != nullptr && *tmp == '/' ? tmp : "/tmp") +
                              "/morix-fuzz-names-" + std::to_string(getuid());
        if (mkdir(f.c_str(), 0700) != 0 && errno != EEXIST) std::abort();
        MakeFile(f + "/a.txt", 2048, 1065237045, 0);                 // 2003-10-04
        MakeFile(f + "/B.JPG", 1023, 0, 0);                          // the epoch
        MakeFile(f + "/c", 0, -1, 500000000);                        // just before it
        MakeFile(f + "/photo 2003_07.jpeg", 5000, 253402300799, 0);  // end of year 9999
        MakeFile(f + "/.hidden", 1, 4102444800, 999999999);          // 2100
        mkdir((f + "/sub").c_str(), 0700);
        if (symlink("gone", (f + "/link.lnk").c_str()) != 0 && errno != EEXIST) std::abort();
        return f;
    }();
    return folder;
}

bool ParseInt(std::string_view flags, std::size_t& i, std::int32_t& out) {
    std::size_t j = i;
    bool negative = false;
    if (j < flags.size() && flags[j] == '-') {
        negative = true;
        ++j;
    }
    std::uint32_t value = 0;
    bool any = false;
    while (j < flags.size() && flags[j] >= '0' && flags[j] <= '9') {
        value = value * 10 + static_cast<std::uint32_t>(flags[j] - '0');  // wraps: any 32 bits
        ++j;
        any = true;
    }
    if (!any) return false;
    if (negative) value = 0u - value;
    out = static_cast<std::int32_t>(value);
    i = j;
    return true;
}

int Sign(int v) {
    return (v > 0) - (v < 0);
}

std::u16string Folded(std::u16string_view s) {
    std::u16string f(s);
    AsciiLowerInPlace(f);
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& folder = FactsFolder();
    const std::vector<std::string_view> lines =
        morix::fuzz::Split(std::string_view(reinterpret_cast<const char*>(data), size), '\n');
    auto line = [&](std::size_t i) { return i < lines.size() ? lines[i] : std::string_view(); };

    RenameOptions options;
    bool keepOrder = false;
    bool alsoTaken = false;
    const std::string_view flags = line(0);
    for (std::size_t i = 0; i < flags.size();) {
        const char c = flags[i++];
        if (c >= '0' && c <= '7') options.caseMode = static_cast<CaseMode>(c - '0');
        if (c == 'x') options.changeExtension = true;
        if (c == 'c') options.caseSensitive = true;
        if (c == 'r') options.regex = true;
        if (c == 'u') options.normalizeUnicode = false;
        if (c == 'd') options.descending = true;
        if (c == 'N') options.sortKey = SortKey::kName;
        if (c == 'E') options.sortKey = SortKey::kExtension;
        if (c == 'T') options.sortKey = SortKey::kModifiedTime;
        if (c == 'S') options.sortKey = SortKey::kSize;
        if (c == 'W') alsoTaken = true;
        if (c == 'K') keepOrder = true;
        if (c == '@') ParseInt(flags, i, options.startNumber);
        if (c == '+') ParseInt(flags, i, options.increment);
    }
    options.nameTemplate = DecodeFileName(line(1));
    options.findText = DecodeFileName(line(2));
    options.replaceText = DecodeFileName(line(3));
    options.newExtension = DecodeFileName(line(4));

    RenameList list;
    const std::u16string base = DecodeFileName(folder);
    for (std::size_t i = 5; i < lines.size() && list.Count() < kMaxItems; ++i) {
        // No path the program is given holds a zero byte: no file system
        // stores one, and every way in cuts or refuses it.
        if (lines[i].find('\0') != std::string_view::npos) continue;
        const std::u16string name = DecodeFileName(lines[i]);
        // Only names that are absent from the root folder stay there: the
        // times of /tmp and the like change while an input runs.
        const bool inRoot = !name.empty() && name[0] == u'/' && name.find(u'/', 1) == name.npos &&
                            !FileExists(name);
        list.AddItem(inRoot ? name : CombinePath(base, name));
    }
    const std::size_t count = list.Count();

    // Sorting: a permutation of the rows, in the order the item comparison
    // gives, and the natural order a consistent order of names.
    std::vector<std::uint32_t> rows = IdentityRows(count);
    if (!keepOrder) SortRows(list, rows, options.sortKey, options.descending);
    {
        std::vector<std::uint32_t> seen = rows;
        std::sort(seen.begin(), seen.end());
        Check(seen == IdentityRows(count), "sorted rows are a permutation of the items");
        for (std::size_t r = 0; !keepOrder && r + 1 < count; ++r) {
            Check(CompareItems(options.sortKey, options.descending, list.ItemAt(rows[r]),
                               list.ItemAt(rows[r + 1])) <= 0,
                  "sorted rows are in the order of the item comparison");
        }
        const std::size_t n = std::min<std::size_t>(count, 8);
        for (std::size_t a = 0; a < n; ++a) {
            const std::u16string_view na = list.ItemAt(a).name;
            for (std::size_t b = 0; b < n; ++b) {
                const std::u16string_view nb = list.ItemAt(b).name;
                const int ab = NaturalCompare(na, nb);
                Check(Sign(ab) == -Sign(NaturalCompare(nb, na)), "natural order is antisymmetric");
                for (std::size_t c = 0; c < n && ab <= 0; ++c) {
                    const std::u16string_view nc = list.ItemAt(c).name;
                    if (NaturalCompare(nb, nc) <= 0) {
                        Check(NaturalCompare(na, nc) <= 0, "natural order is transitive");
                    }
                }
            }
        }
    }

    NameRegistry registry;
    const NameList names = ComputeNewNames(list, rows, options, registry);
    Check(names.size() == count, "one new name per row");

    // Every name is usable and unique unless a duplicate suffix repeated an
    // earlier name (suffixed names are not checked again).
    std::set<std::u16string> given;
    std::uint32_t number = static_cast<std::uint32_t>(options.startNumber);
    for (std::size_t r = 0; r < count;
         ++r, number += static_cast<std::uint32_t>(options.increment)) {
        const std::u16string_view name = names[r];
        Check(!name.empty(), "a new name is never empty");
        Check(std::none_of(name.begin(), name.end(), IsForbiddenNameChar),
              "a new name holds no forbidden character");
        Check(!IsSpaceChar(name.front()) && !IsSpaceChar(name.back()),
              "a new name has no white space at its ends");
        const std::u16string folded = Folded(name);
        if (!given.insert(folded).second) {
            const std::u16string suffix =
                u"_" + AsciiToU16(std::to_string(static_cast<std::int32_t>(number)));
            Check(name.find(suffix) != name.npos, "only a suffixed name repeats an earlier one");
        }
        Check(registry.Contains(name), "every given name is in the registry");
    }
    Check(registry.Size() == given.size(), "the registry holds each given name once");
    for (std::size_t r = count; r-- > 0;) {
        const std::size_t owner = registry.ItemOf(names[r]);
        bool later = false;  // a later row with the same name owns it instead
        for (std::size_t s = r + 1; s < count && !later; ++s)
            later = EqualsNoCase(names[s], names[r]);
        if (!later) Check(owner == rows[r], "a name belongs to the last row that received it");
    }

    // The clock moves between calls; the rest must agree exactly.
    if (options.nameTemplate.find(u'T') != std::u16string::npos) return 0;

    // No file here holds a capture date: by the date taken, every one falls
    // back to its modified time, in the same order and the same names.
    if (alsoTaken) {
        RenameOptions taken = options;
        taken.dateSource = DateSource::kTaken;
        CaptureDateCache dates;
        std::vector<std::uint32_t> takenRows = IdentityRows(count);
        if (!keepOrder) {
            SortRows(list, takenRows, taken.sortKey, taken.descending, taken.dateSource, &dates);
        }
        Check(takenRows == rows, "without capture dates the date taken sorts as the modified time");
        NameRegistry takenRegistry;
        const NameList takenNames = ComputeNewNames(list, rows, taken, takenRegistry, &dates);
        for (std::size_t r = 0; r < count; ++r) {
            Check(takenNames[r] == names[r],
                  "without capture dates the date taken names as the modified time");
        }
    }

    // Row by row through the disk queries, as a caller without the facts
    // read up front would do: the same names.
    NameRegistry single;
    number = static_cast<std::uint32_t>(options.startNumber);
    for (std::size_t r = 0; r < count;
         ++r, number += static_cast<std::uint32_t>(options.increment)) {
        const std::u16string name = ComputeNewName(options, list.ItemAt(rows[r]).Whole(),
                                                   static_cast<std::int32_t>(number), single);
        Check(name == names[r], "the pass and the single computation give the same name");
        single.Register(name, rows[r]);
    }

    // A template said to read no file facts gives the same text whatever the
    // facts are.
    const NameTemplate nameTemplate(options.nameTemplate);
    if (!nameTemplate.ReadsFileFacts() && count > 0) {
        const RenameItem item = list.ItemAt(rows[0]);
        const FileFacts none;
        const FileFacts some{123456789, FileTime{1065237045} * 1'000'000'000};
        std::u16string withNone, withSome;
        nameTemplate.ExpandInto(withNone, item, options.startNumber, &none);
        nameTemplate.ExpandInto(withSome, item, options.startNumber, &some);
        Check(withNone == withSome, "a template that reads no file facts does not depend on them");
    }
    return 0;
}
