// The rename list and the file queries on real files.
#include "engine/rename_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <limits>
#include <thread>

#include "engine/file_info.h"
#include "engine/paths.h"
#include "engine/preview.h"
#include "support/temp_dir.h"

namespace morix {
namespace {

using testing::ScopedTimeZone;
using testing::TempDir;

TEST(RenameList, PathIdentityIsExact) {
    RenameList list;
    EXPECT_TRUE(list.AddItem(u"/a/file.txt"));
    EXPECT_FALSE(list.AddItem(u"/a/file.txt"));
    // On Linux these are different files.
    EXPECT_TRUE(list.AddItem(u"/A/File.TXT"));
    EXPECT_TRUE(list.AddItem(u"/A/Fïle.txt"));
    EXPECT_TRUE(list.AddItem(u"/A/FÏLE.txt"));
    ASSERT_EQ(list.Count(), 4u);
    EXPECT_EQ(list.ItemAt(2).Whole(), u"/A/Fïle.txt");
    list.Clear();
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_TRUE(list.AddItem(u"/a/file.txt"));
}

// Each folder's text is kept once: items of several folders, added in turns,
// keep their own folder, a name met in another folder is another file, and
// a file in the root or a path without a folder keeps its spelling.
TEST(RenameList, ItemsOfManyFoldersKeepTheirFolder) {
    RenameList list;
    const std::u16string folders[] = {u"/a/", u"/b/", u"/a/b/", u"/"};
    for (int i = 0; i < 400; ++i) {
        const std::u16string& folder = folders[i % 4];
        EXPECT_TRUE(list.AddItem(folder + u"f" + AsciiToU16(std::to_string(i / 4)))) << i;
    }
    for (int i = 0; i < 400; ++i) {
        const std::u16string& folder = folders[i % 4];
        EXPECT_FALSE(list.AddItem(folder + u"f" + AsciiToU16(std::to_string(i / 4)))) << i;
    }
    ASSERT_EQ(list.Count(), 400u);
    for (std::size_t i = 0; i < list.Count(); ++i) {
        const RenameItem item = list.ItemAt(i);
        EXPECT_EQ(item.folder, folders[i % 4]);
        EXPECT_EQ(item.name, u"f" + AsciiToU16(std::to_string(i / 4)));
    }
    EXPECT_EQ(list.ItemAt(3).Parent(), u"");
    EXPECT_EQ(list.ItemAt(3).Whole(), u"/f0");
    EXPECT_TRUE(list.AddItem(u"relative.txt"));
    EXPECT_EQ(list.ItemAt(400).folder, u"");
    EXPECT_EQ(list.ItemAt(400).Whole(), u"relative.txt");
}

TEST(RenameList, ManyItemsKeepTheirOrderAndIdentity) {
    RenameList list;
    for (int i = 0; i < 5000; ++i) {
        EXPECT_TRUE(list.AddItem(u"/d/f" + AsciiToU16(std::to_string(i))));
    }
    for (int i = 0; i < 5000; i += 7) {
        EXPECT_FALSE(list.AddItem(u"/d/f" + AsciiToU16(std::to_string(i))));
    }
    ASSERT_EQ(list.Count(), 5000u);
    EXPECT_EQ(list.ItemAt(4321).Whole(), u"/d/f4321");
}

// Paths share large blocks: every path stays as it was added while later
// ones fill block after block, one longer than a block among them, and the
// list takes paths again after it was cleared.
TEST(RenameList, PathsStayIntactAcrossBlocksAndAClear) {
    RenameList list;
    const auto pathOf = [](int i) {
        return u"/photos/" + std::u16string(static_cast<std::size_t>(i % 300 + 1), u'x') + u"/" +
               AsciiToU16(std::to_string(i));
    };
    const std::u16string huge = u"/" + std::u16string(70000, u'h');
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 3000; ++i) {
            ASSERT_TRUE(list.AddItem(pathOf(i)));
            if (i == 1234) {
                ASSERT_TRUE(list.AddItem(huge));
            }
        }
        ASSERT_EQ(list.Count(), 3001u);
        for (int i = 0; i < 3000; ++i)
            ASSERT_EQ(list.ItemAt(static_cast<std::size_t>(i < 1235 ? i : i + 1)).Whole(),
                      pathOf(i));
        EXPECT_EQ(list.ItemAt(1235).Whole(), huge);
        EXPECT_FALSE(list.AddItem(huge));
        list.Clear();
        EXPECT_EQ(list.Count(), 0u);
    }
}

TEST(RenameListDeathTest, ItemAtPastTheEndAborts) {
    RenameList list;
    list.AddItem(u"/x");
    EXPECT_DEATH(list.ItemAt(1), "out of range");
}

TEST(RenameList, AddFolderTakesFilesButNotFolders) {
    TempDir dir;
    dir.MakeFile("f1");
    dir.MakeFile(".hidden");
    dir.MakeFile("bad\xff.txt");
    dir.MakeFolder("sub");
    dir.MakeFile("sub/inner");
    ASSERT_EQ(::symlink(dir.Path("sub").c_str(), dir.Path("link-to-folder").c_str()), 0);
    ASSERT_EQ(::symlink("/nonexistent", dir.Path("dangling").c_str()), 0);
    RenameList list;
    EXPECT_TRUE(list.AddFolder(dir.u16()));
    std::vector<std::string> names;
    for (std::size_t i = 0; i < list.Count(); ++i) {
        names.push_back(EncodeFileName(list.ItemAt(i).name));
        EXPECT_EQ(list.ItemAt(i).Parent(), dir.u16());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".hidden", "bad\xff.txt", "dangling", "f1"}));
    // Adding the same folder again adds nothing and says so.
    int error = -1;
    EXPECT_FALSE(list.AddFolder(dir.u16(), &error));
    EXPECT_EQ(error, 0);
    EXPECT_EQ(list.Count(), 4u);
    EXPECT_FALSE(list.AddFolder(dir.U16Path("missing"), &error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(list.Count(), 4u);

    // A folder named through a link, with "." and a trailing "/", gives its
    // files under the folder's real path: the same items as their paths.
    EXPECT_TRUE(list.AddFolder(dir.U16Path("link-to-folder/./"), &error));
    ASSERT_EQ(list.Count(), 5u);
    EXPECT_EQ(list.ItemAt(4).Parent(), dir.U16Path("sub"));
    EXPECT_EQ(list.ItemAt(4).name, u"inner");
    EXPECT_FALSE(list.AddItem(dir.U16Path("sub/inner")));
    EXPECT_FALSE(list.AddItem(dir.U16Path("link-to-folder/inner")));
}

// Every spelling of one file is one item, under the folder's real path; the
// last component is never followed, so a listed link stays a link.
TEST(RenameList, SpellingsOfOneFileAreOneItem) {
    TempDir dir;
    dir.MakeFolder("real");
    dir.MakeFile("real/2.txt");
    ASSERT_EQ(::symlink(dir.Path("real").c_str(), dir.Path("link").c_str()), 0);
    ASSERT_EQ(::symlink(".", dir.Path("real/back").c_str()), 0);  // to its own folder
    const std::string real = dir.Path("real");
    RenameList list;
    EXPECT_TRUE(list.AddItem(dir.U16Path("real/2.txt")));
    for (const char* spelling : {"real//2.txt", "real/./2.txt", "real/../real/2.txt", "link/2.txt",
                                 "link/back/../real/2.txt", "./real/2.txt"}) {
        EXPECT_FALSE(list.AddItem(dir.U16Path(spelling))) << spelling;
    }
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(EncodeFileName(list.ItemAt(0).Whole()), real + "/2.txt");

    // The link itself is another file; with a trailing "/" it names its folder.
    EXPECT_TRUE(list.AddItem(dir.U16Path("link")));
    EXPECT_EQ(EncodeFileName(list.ItemAt(1).Whole()), dir.Path("link"));
    EXPECT_TRUE(list.AddItem(dir.U16Path("link/")));
    EXPECT_EQ(EncodeFileName(list.ItemAt(2).Whole()), real);
    for (const char* spelling : {"real", "real/", "real/.", "link/.", "real/back/..//real"}) {
        EXPECT_FALSE(list.AddItem(dir.U16Path(spelling))) << spelling;
    }
    EXPECT_TRUE(list.AddItem(u"//"));
    EXPECT_EQ(list.ItemAt(3).Whole(), u"/");
    EXPECT_FALSE(list.AddItem(u"/"));
    EXPECT_EQ(list.Count(), 4u);
}

// A folder that does not exist cannot be resolved; its spellings still meet
// in one item, written without "//", "." and "..".
TEST(RenameList, MissingFoldersAreTidiedByTheirText) {
    TempDir dir;
    RenameList list;
    EXPECT_TRUE(list.AddItem(dir.U16Path("gone//x")));
    EXPECT_FALSE(list.AddItem(dir.U16Path("gone/./x")));
    EXPECT_FALSE(list.AddItem(dir.U16Path("gone/sub/../x")));
    EXPECT_FALSE(list.AddItem(dir.U16Path("gone/x")));
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(EncodeFileName(list.ItemAt(0).Whole()), dir.Path("gone/x"));
    // Names are kept as given, also where they are not UTF-8.
    EXPECT_TRUE(list.AddItem(DecodeFileName(dir.Path("gone//caf\xe9.txt"))));
    EXPECT_EQ(EncodeFileName(list.ItemAt(1).Whole()), dir.Path("gone/caf\xe9.txt"));
}

// Folder names that are not UTF-8 come back from the real path byte for byte.
TEST(RenameList, ResolvedFoldersKeepTheirBytes) {
    TempDir dir;
    dir.MakeFolder("caf\xe9");
    dir.MakeFile("caf\xe9/n\xff");
    ASSERT_EQ(::symlink(dir.Path("caf\xe9").c_str(), dir.Path("link").c_str()), 0);
    RenameList list;
    EXPECT_TRUE(list.AddItem(dir.U16Path("link//n\xff")));
    EXPECT_FALSE(list.AddItem(dir.U16Path("caf\xe9/n\xff")));
    EXPECT_EQ(EncodeFileName(list.ItemAt(0).Whole()), dir.Path("caf\xe9/n\xff"));
}

// The folder token reads the folder the item is in, not how it was spelled.
TEST(RenameList, FolderTokenNamesTheRealFolder) {
    TempDir dir;
    dir.MakeFolder("holiday");
    dir.MakeFile("holiday/a.jpg");
    dir.MakeFile("holiday/b.jpg");
    RenameList list;
    list.AddItem(dir.U16Path("holiday/./a.jpg"));
    list.AddItem(dir.U16Path("holiday//b.jpg"));
    RenameOptions options;
    options.nameTemplate = u"<P>-<N>";
    NameRegistry registry;
    const std::vector<std::uint32_t> rows = IdentityRows(list.Count());
    const NameList names = ComputeNewNames(list, rows, options, registry);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(std::u16string(names[0]), u"holiday-a.jpg");
    EXPECT_EQ(std::u16string(names[1]), u"holiday-b.jpg");
}

// A folder is looked up again once the remembered answer is old or the list
// was cleared, so a link pointed elsewhere in between is followed anew.
TEST(RenameList, LinkedFolderIsLookedUpAgainLater) {
    TempDir dir;
    dir.MakeFolder("one");
    dir.MakeFolder("two");
    ASSERT_EQ(::symlink("one", dir.Path("link").c_str()), 0);
    const auto pointLinkTo = [&](const char* target) {
        ASSERT_EQ(::unlink(dir.Path("link").c_str()), 0);
        ASSERT_EQ(::symlink(target, dir.Path("link").c_str()), 0);
    };
    RenameList list;
    list.AddItem(dir.U16Path("link/a"));
    pointLinkTo("two");
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    list.AddItem(dir.U16Path("link/b"));
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(EncodeFileName(list.ItemAt(0).Whole()), dir.Path("one/a"));
    EXPECT_EQ(EncodeFileName(list.ItemAt(1).Whole()), dir.Path("two/b"));

    list.AddItem(dir.U16Path("link/c"));
    pointLinkTo("one");
    list.Clear();
    list.AddItem(dir.U16Path("link/c"));
    EXPECT_EQ(EncodeFileName(list.ItemAt(0).Whole()), dir.Path("one/c"));
}

TEST(FileQueries, ReadTheDiskEveryTime) {
    ScopedTimeZone zone("UTC");
    TempDir dir;
    const std::string file = dir.MakeFile("a.bin", 1234);
    TempDir::SetModified(file, 1065237045);
    const std::u16string path = dir.U16Path("a.bin");
    EXPECT_TRUE(FileExists(path));
    EXPECT_TRUE(FileExists(dir.u16()));
    EXPECT_EQ(FileSize(path), 1234u);
    ASSERT_TRUE(ModifiedTime(path).has_value());
    EXPECT_EQ(*ModifiedTime(path), 1065237045LL * 1000000000);
    const std::optional<LocalTime> t = LocalModifiedTime(path);
    ASSERT_TRUE(t.has_value());
    EXPECT_EQ(t->year, 2003);
    EXPECT_EQ(t->month, 10);
    EXPECT_EQ(t->day, 4);
    EXPECT_EQ(t->hour, 3);
    EXPECT_EQ(t->minute, 10);
    EXPECT_EQ(t->second, 45);

    dir.MakeFile("a.bin", 7);
    EXPECT_EQ(FileSize(path), 7u);

    const std::u16string missing = dir.U16Path("missing");
    EXPECT_FALSE(FileExists(missing));
    EXPECT_FALSE(FileExists(u""));
    EXPECT_EQ(FileSize(missing), 0u);
    EXPECT_FALSE(ModifiedTime(missing).has_value());
    EXPECT_FALSE(LocalModifiedTime(missing).has_value());
}

TEST(FileQueries, LocalTimeFollowsTheTimeZone) {
    ScopedTimeZone zone("Asia/Seoul");
    const std::optional<LocalTime> t = ToLocalTime(1065237045LL * 1000000000);
    ASSERT_TRUE(t.has_value());
    EXPECT_EQ(t->hour, 12);                                  // UTC+9
    const std::optional<LocalTime> early = ToLocalTime(-1);  // a moment before 1970
    ASSERT_TRUE(early.has_value());
    EXPECT_EQ(early->year, 1970);
    EXPECT_EQ(early->second, 59);
}

TEST(FileQueries, DanglingLinkOccupiesItsName) {
    TempDir dir;
    ASSERT_EQ(::symlink("/nonexistent/target", dir.Path("link").c_str()), 0);
    const std::u16string link = dir.U16Path("link");
    EXPECT_TRUE(FileExists(link));
    EXPECT_TRUE(ModifiedTime(link).has_value());
    EXPECT_EQ(FileSize(link), std::string("/nonexistent/target").size());
}

// Times past 2262 do not fit in nanoseconds since 1970; ext4 keeps them up to
// 2446. Such a file reads as the latest time there is, the same through every
// query, and its date comes out as that moment's.
TEST(FileQueries, TimePastTheNanosecondRangeIsHeldAtItsEnd) {
    ScopedTimeZone zone("UTC");
    TempDir dir;
    const std::string full = dir.MakeFile("future.txt", 3);
    TempDir::SetModified(full, 15032385535);  // 2446-05-10, the last second ext4 holds
    struct stat st;
    ASSERT_EQ(::stat(full.c_str(), &st), 0);
    if (st.st_mtim.tv_sec < 9300000000) GTEST_SKIP() << "this file system keeps no such time";
    const std::u16string path = DecodeFileName(full);
    ASSERT_TRUE(ModifiedTime(path).has_value());
    EXPECT_EQ(*ModifiedTime(path), std::numeric_limits<FileTime>::max());
    EXPECT_EQ(ReadFileFacts(path).modified, ModifiedTime(path));
    FileFactsReader reader;
    EXPECT_EQ(reader.Read(SplitPath(path)).modified, ModifiedTime(path));
    const std::optional<LocalTime> t = LocalModifiedTime(path);
    ASSERT_TRUE(t.has_value());
    EXPECT_EQ(t->year, 2262);

    const std::string past = dir.MakeFile("past.txt", 3);
    TempDir::SetModified(past, -15032385535);
    ASSERT_EQ(::stat(past.c_str(), &st), 0);
    if (st.st_mtim.tv_sec > -9300000000) return;
    EXPECT_EQ(ModifiedTime(DecodeFileName(past)), std::numeric_limits<FileTime>::min());
}

// A handed path may end in "/": it names the folder, for the reader that
// keeps a folder open as for a single query (it read nothing once, so a sort
// by time and the preview's dates disagreed with the single queries).
TEST(FileQueries, FactsReaderReadsAPathEndingInASeparator) {
    TempDir dir;
    const std::string folder = dir.MakeFolder("photos");
    TempDir::SetModified(folder, 1065237045);
    const std::u16string path = DecodeFileName(folder + "/");
    ASSERT_TRUE(ReadFileFacts(path).modified.has_value());
    FileFactsReader reader;
    EXPECT_EQ(reader.Read(SplitPath(dir.U16Path("photos/x"))).modified,
              std::nullopt);  // opens the folder
    const FileFacts facts = reader.Read(SplitPath(path));
    EXPECT_EQ(facts.modified, ReadFileFacts(path).modified);
    EXPECT_EQ(facts.modified, ModifiedTime(path));
    EXPECT_EQ(facts.size, FileSize(path));
}

TEST(FileQueries, NamesThatAreNotUtf8) {
    TempDir dir;
    dir.MakeFile("caf\xe9", 5);
    const std::u16string path = dir.U16Path("caf\xe9");
    EXPECT_TRUE(FileExists(path));
    EXPECT_EQ(FileSize(path), 5u);
    EXPECT_FALSE(FileExists(dir.U16Path("caf\xc3\xa9")));
}

}  // namespace
}  // namespace morix

namespace morix {
namespace {

// The reader that keeps folders open must agree with the one-off query, also
// when folders alternate, files are missing, or a folder is gone.
TEST(FileQueries, FactsReaderAgreesWithSingleQueries) {
    testing::TempDir dir;
    dir.MakeFolder("one");
    dir.MakeFolder("two");
    testing::TempDir::SetModified(dir.MakeFile("one/a", 11), 1000000000);
    testing::TempDir::SetModified(dir.MakeFile("two/b", 22), 1100000000);
    ASSERT_EQ(::symlink("/nonexistent", dir.Path("two/dangling").c_str()), 0);
    const std::vector<std::u16string> paths = {
        dir.U16Path("one/a"),
        dir.U16Path("two/b"),
        dir.U16Path("one/missing"),
        dir.U16Path("one/a"),
        dir.U16Path("two/dangling"),
        dir.U16Path("gone/x"),
        u"/",
        u"relative-name",
        dir.U16Path("two/b"),
    };
    FileFactsReader reader;
    for (const std::u16string& path : paths) {
        const FileFacts expected = ReadFileFacts(path);
        const FileFacts actual = reader.Read(SplitPath(path));
        EXPECT_EQ(actual.size, expected.size) << EncodeFileName(path);
        EXPECT_EQ(actual.modified, expected.modified) << EncodeFileName(path);
    }
    EXPECT_EQ(reader.Read(SplitPath(dir.U16Path("two/b"))).size, 22u);
    EXPECT_FALSE(reader.Read(SplitPath(dir.U16Path("one/missing"))).modified.has_value());
}

}  // namespace
}  // namespace morix
