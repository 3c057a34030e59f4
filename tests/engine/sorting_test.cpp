// Sort keys, the natural name order, and the one-read sort matching the
// item-by-item comparison.
#include "engine/sorting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/parallel.h"
#include "engine/paths.h"
#include "engine/preview.h"
#include "support/temp_dir.h"

namespace morix {
namespace {

using testing::TempDir;

std::vector<std::u16string> SortedNames(const RenameList& list, SortKey key, bool descending) {
    std::vector<std::uint32_t> rows = IdentityRows(list.Count());
    SortRows(list, rows, key, descending);
    std::vector<std::u16string> names;
    for (std::uint32_t row : rows)
        names.emplace_back(list.ItemAt(row).name);
    return names;
}

TEST(NaturalCompare, DigitRunsByValueLettersWithoutCase) {
    EXPECT_LT(NaturalCompare(u"file2.txt", u"file10.txt"), 0);
    EXPECT_GT(NaturalCompare(u"file10.txt", u"file9.txt"), 0);
    EXPECT_LT(NaturalCompare(u"a.txt", u"B.txt"), 0);
    EXPECT_LT(NaturalCompare(u"B.txt", u"c.txt"), 0);
    EXPECT_EQ(NaturalCompare(u"Same.TXT", u"same.txt"), 0);
    EXPECT_LT(NaturalCompare(u"img 9", u"img 10"), 0);
    EXPECT_LT(NaturalCompare(u"x1y2", u"x1y10"), 0);
}

TEST(SortByName, NaturalAscendingAndDescending) {
    RenameList list;
    for (const char16_t* name : {u"/d/file10.txt", u"/d/B.txt", u"/d/file2.txt", u"/d/a.txt"}) {
        list.AddItem(name);
    }
    EXPECT_EQ(SortedNames(list, SortKey::kName, false),
              (std::vector<std::u16string>{u"a.txt", u"B.txt", u"file2.txt", u"file10.txt"}));
    EXPECT_EQ(SortedNames(list, SortKey::kName, true),
              (std::vector<std::u16string>{u"file10.txt", u"file2.txt", u"B.txt", u"a.txt"}));
}

TEST(SortByExtension, CodeUnitOrderThenName) {
    RenameList list;
    for (const char16_t* name :
         {u"/d/z.doc", u"/d/a.txt", u"/d/b.TXT", u"/d/noext", u"/d/b.jpg", u"/d/a.jpg"}) {
        list.AddItem(name);
    }
    EXPECT_EQ(
        SortedNames(list, SortKey::kExtension, false),
        (std::vector<std::u16string>{u"noext", u"b.TXT", u"z.doc", u"a.jpg", u"b.jpg", u"a.txt"}));
}

TEST(SortByTime, MissingFilesGoLast) {
    TempDir dir;
    TempDir::SetModified(dir.MakeFile("new.txt"), 2000000000);
    TempDir::SetModified(dir.MakeFile("old.txt"), 1000000000);
    TempDir::SetModified(dir.MakeFile("tie-b.txt"), 1500000000);
    TempDir::SetModified(dir.MakeFile("tie-a.txt"), 1500000000);
    RenameList list;
    for (const char* name : {"new.txt", "gone.txt", "old.txt", "tie-b.txt", "tie-a.txt"}) {
        list.AddItem(dir.U16Path(name));
    }
    EXPECT_EQ(SortedNames(list, SortKey::kModifiedTime, false),
              (std::vector<std::u16string>{u"old.txt", u"tie-a.txt", u"tie-b.txt", u"new.txt",
                                           u"gone.txt"}));
    EXPECT_EQ(SortedNames(list, SortKey::kModifiedTime, true),
              (std::vector<std::u16string>{u"gone.txt", u"new.txt", u"tie-b.txt", u"tie-a.txt",
                                           u"old.txt"}));
}

TEST(SortBySize, MissingFilesCountAsEmpty) {
    TempDir dir;
    dir.MakeFile("big.bin", 300);
    dir.MakeFile("small.bin", 20);
    dir.MakeFile("empty.bin", 0);
    RenameList list;
    for (const char* name : {"big.bin", "small.bin", "missing.bin", "empty.bin"}) {
        list.AddItem(dir.U16Path(name));
    }
    EXPECT_EQ(
        SortedNames(list, SortKey::kSize, false),
        (std::vector<std::u16string>{u"empty.bin", u"missing.bin", u"small.bin", u"big.bin"}));
}

// Rows given in any order, and only some of the items, come back as the same
// rows in key order, ties by name.
TEST(SortRows, SortsTheRowsItIsGiven) {
    TempDir dir;
    RenameList list;
    for (int i = 0; i < 12; ++i) {
        const std::string name = std::to_string(i) + ".txt";
        TempDir::SetModified(dir.MakeFile(name, static_cast<std::uint64_t>(i % 3)),
                             1000000000 + i % 4);
        list.AddItem(dir.U16Path(name));
    }
    const std::vector<std::uint32_t> given = {11, 3, 7, 0, 9, 4, 1};
    std::vector<std::uint32_t> expectedSet = given;
    std::sort(expectedSet.begin(), expectedSet.end());
    for (const SortKey key : {SortKey::kModifiedTime, SortKey::kSize, SortKey::kName}) {
        std::vector<std::uint32_t> rows = given;
        SortRows(list, rows, key, false);
        std::vector<std::uint32_t> set = rows;
        std::sort(set.begin(), set.end());
        EXPECT_EQ(set, expectedSet);
        for (std::size_t r = 1; r < rows.size(); ++r) {
            EXPECT_LT(CompareItems(key, false, list.ItemAt(rows[r - 1]), list.ItemAt(rows[r])), 0)
                << "key " << static_cast<int>(key) << " row " << r;
        }
    }
}

// The fast sort must give the order that CompareItems defines on every key.
TEST(SortRows, AgreesWithCompareItems) {
    TempDir dir;
    const char* names[] = {"x10.a", "x9.B", "X9.a", "y.b", "z", "é1.a", "e2.a", "gone.c"};
    int i = 0;
    for (const char* name : names) {
        if (std::string(name) == "gone.c") continue;
        const std::string full = dir.MakeFile(name, (i * 37) % 5);
        TempDir::SetModified(full, 1000000000 + (i % 3));
        ++i;
    }
    RenameList list;
    for (const char* name : names)
        list.AddItem(dir.U16Path(name));
    for (int key = 0; key < kSortKeyCount; ++key) {
        for (bool descending : {false, true}) {
            std::vector<std::uint32_t> rows = IdentityRows(list.Count());
            SortRows(list, rows, static_cast<SortKey>(key), descending);
            for (std::size_t r = 1; r < rows.size(); ++r) {
                EXPECT_LE(CompareItems(static_cast<SortKey>(key), descending,
                                       list.ItemAt(rows[r - 1]), list.ItemAt(rows[r])),
                          0)
                    << "key " << key << " descending " << descending << " row " << r;
            }
        }
    }
}

}  // namespace
}  // namespace morix

namespace morix {
namespace {

TEST(Parallel, EverySliceRunsOnceAndSortsMerge) {
    for (std::size_t count :
         {std::size_t{0}, std::size_t{1}, std::size_t{5000}, std::size_t{100003}}) {
        std::vector<int> seen(count, 0);
        ParallelFor(count, [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i)
                ++seen[i];
        });
        EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](int n) { return n == 1; })) << count;

        std::vector<std::uint32_t> values(count);
        std::uint32_t x = 12345;
        for (std::uint32_t& v : values)
            v = (x = x * 1103515245u + 12345u) % 1000;
        std::vector<std::uint32_t> expected = values;
        std::sort(expected.begin(), expected.end());
        ParallelSort(values.begin(), values.end(), std::less<>());
        EXPECT_EQ(values, expected) << count;
    }
}

// An empty list has no slice: the sort's per-slice key buffers were indexed
// for a slice of nothing once.
TEST(Parallel, NoWorkForAnEmptyRange) {
    int calls = 0;
    ParallelFor(0, [&](std::size_t, std::size_t) { ++calls; });
    EXPECT_EQ(calls, 0);
    RenameList list;
    for (int key = 0; key < kSortKeyCount; ++key) {
        std::vector<std::uint32_t> rows;
        SortRows(list, rows, static_cast<SortKey>(key), key % 2 == 1);
        EXPECT_TRUE(rows.empty());
    }
}

// Sorting enough rows to be split over threads keeps the natural order and
// keeps ties in their former order.
TEST(SortRows, LargeListsStayInNaturalOrder) {
    RenameList list;
    const int count = 20000;
    for (int i = count - 1; i >= 0; --i) {
        list.AddItem(u"/a/file" + AsciiToU16(std::to_string(i)) + u".txt");
        list.AddItem(u"/b/FILE" + AsciiToU16(std::to_string(i)) + u".txt");
    }
    std::vector<std::uint32_t> rows = IdentityRows(list.Count());
    SortRows(list, rows, SortKey::kName, false);
    for (std::size_t r = 0; r < rows.size(); r += 2) {
        const int number = static_cast<int>(r / 2);
        // /a/fileN was added just before /b/FILEN and ties with it.
        EXPECT_EQ(list.ItemAt(rows[r]).Whole(),
                  u"/a/file" + AsciiToU16(std::to_string(number)) + u".txt");
        EXPECT_EQ(list.ItemAt(rows[r + 1]).Whole(),
                  u"/b/FILE" + AsciiToU16(std::to_string(number)) + u".txt");
    }
}

}  // namespace
}  // namespace morix
