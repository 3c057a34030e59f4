// The main window's commands on the list, the row order and the options.
#include "ui/logic/batch_rename_logic.h"

#include <gtest/gtest.h>

#include "support/media_samples.h"
#include "support/temp_dir.h"

namespace morix::ui {
namespace {

using testing::TempDir;

std::vector<std::uint32_t> Order(const RowOrder& rows) {
    return rows.Rows();
}

RowOrder SixRows(std::initializer_list<std::size_t> selected) {
    RowOrder rows;
    for (std::uint32_t i = 0; i < 6; ++i)
        rows.Append(i);
    for (std::size_t r : selected)
        rows.Select(r, true);
    return rows;
}

TEST(RowOrder, MoveUpAndDown) {
    RowOrder atTop = SixRows({0, 1});
    atTop.MoveSelectionUp();  // a block at the top stays
    EXPECT_EQ(Order(atTop), (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5}));

    RowOrder spread = SixRows({1, 3});
    spread.MoveSelectionUp();
    EXPECT_EQ(Order(spread), (std::vector<std::uint32_t>{1, 0, 3, 2, 4, 5}));
    EXPECT_TRUE(spread.IsSelected(0));
    EXPECT_TRUE(spread.IsSelected(2));
    EXPECT_FALSE(spread.IsSelected(1));

    RowOrder blockedBehind = SixRows({0, 1, 3});
    blockedBehind.MoveSelectionUp();  // 0 and 1 cannot move, 3 can
    EXPECT_EQ(Order(blockedBehind), (std::vector<std::uint32_t>{0, 1, 3, 2, 4, 5}));

    RowOrder block = SixRows({2, 3});
    block.MoveSelectionDown();
    EXPECT_EQ(Order(block), (std::vector<std::uint32_t>{0, 1, 4, 2, 3, 5}));
    RowOrder atBottom = SixRows({4, 5});
    atBottom.MoveSelectionDown();
    EXPECT_EQ(Order(atBottom), (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5}));
}

TEST(RowOrder, DropMovesSelectionInFrontOfTarget) {
    RowOrder rows = SixRows({4, 5});
    EXPECT_TRUE(rows.DropSelectionBefore(1));
    EXPECT_EQ(Order(rows), (std::vector<std::uint32_t>{0, 4, 5, 1, 2, 3}));
    EXPECT_TRUE(rows.SelectedRows().empty());

    RowOrder down = SixRows({0, 1});
    EXPECT_TRUE(down.DropSelectionBefore(4));
    EXPECT_EQ(Order(down), (std::vector<std::uint32_t>{2, 3, 0, 1, 4, 5}));

    RowOrder onSelected = SixRows({2, 3});
    EXPECT_FALSE(onSelected.DropSelectionBefore(3));
    EXPECT_FALSE(onSelected.DropSelectionBefore(6));
    EXPECT_EQ(Order(onSelected), (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5}));
}

TEST(RowOrder, SelectionAsRangesAndThroughAReorder) {
    RowOrder rows = SixRows({0, 2, 3, 5});
    const std::vector<RowOrder::Range> ranges = rows.SelectedRanges();
    ASSERT_EQ(ranges.size(), 3u);
    EXPECT_EQ(ranges[0].first, 0u);
    EXPECT_EQ(ranges[0].last, 0u);
    EXPECT_EQ(ranges[1].first, 2u);
    EXPECT_EQ(ranges[1].last, 3u);
    EXPECT_EQ(ranges[2].first, 5u);
    EXPECT_EQ(ranges[2].last, 5u);

    // Each row keeps its selection when the items change places.
    rows.Reorder({5, 4, 3, 2, 1, 0});
    EXPECT_EQ(rows.SelectedRows(), (std::vector<std::size_t>{0, 2, 3, 5}));
    rows.Reorder({1, 3, 5, 0, 2, 4});
    EXPECT_EQ(rows.SelectedRows(), (std::vector<std::size_t>{1, 2, 3, 4}));
    EXPECT_EQ(rows.RowOf(4), std::optional<std::size_t>(5));
    EXPECT_EQ(rows.RowOf(9), std::nullopt);

    RowOrder none = SixRows({});
    EXPECT_TRUE(none.SelectedRanges().empty());
    none.SelectRange({1, 4});
    EXPECT_EQ(none.SelectedRows(), (std::vector<std::size_t>{1, 2, 3, 4}));
}

TEST(BatchRenameLogic, SortingAndAddingKeepTheSelectionWithTheRows) {
    BatchRenameLogic logic;
    for (const char16_t* path : {u"/d/c.txt", u"/d/a.txt", u"/d/b.txt"})
        logic.AddFile(path);
    logic.Rows().ClearSelection();
    logic.Rows().Select(0, true);  // c.txt
    logic.SortList();
    EXPECT_EQ(logic.Rows().SelectedRows(), (std::vector<std::size_t>{2}));

    // The rows an add creates are selected, wherever the sort puts them.
    logic.Rows().ClearSelection();
    logic.AddFile(u"/d/0.txt");
    logic.AddFile(u"/d/bb.txt");
    // Sorting computes no names: the window previews once after it.
    const int passes = logic.PreviewPasses();
    EXPECT_TRUE(logic.FinishAdding(3, BatchRenameLogic::SortAfterAdd::kAlways));
    logic.SortList();
    EXPECT_EQ(logic.PreviewPasses(), passes);
    EXPECT_EQ(logic.Rows().SelectedRows(), (std::vector<std::size_t>{0, 3}));
}

TEST(BatchRenameLogic, NumbersFollowTheVisibleOrder) {
    BatchRenameLogic logic;
    for (const char16_t* path : {u"/d/A.txt", u"/d/B.txt", u"/d/C.txt"})
        logic.AddFile(path);
    logic.Options().nameTemplate = u"#";
    logic.Options().startNumber = 3;
    logic.Options().increment = 2;
    // Show C, A, B.
    logic.Rows().ClearSelection();
    logic.Rows().Select(2, true);
    logic.Rows().MoveSelectionUp();
    logic.Rows().MoveSelectionUp();
    logic.RefreshPreview();
    EXPECT_EQ(logic.NewNameAt(0), u"3.txt");  // C
    EXPECT_EQ(logic.NewNameAt(1), u"5.txt");  // A
    EXPECT_EQ(logic.NewNameAt(2), u"7.txt");  // B
    EXPECT_EQ(logic.ClipboardText(), u"3.txt\n5.txt\n7.txt\n");
}

TEST(BatchRenameLogic, AddingSortsOnlyAnEmptyListUnlessAFolder) {
    TempDir dir;
    dir.MakeFile("b.txt");
    dir.MakeFile("a.txt");
    dir.MakeFolder("sub");
    BatchRenameLogic logic;
    logic.AddFile(dir.U16Path("b.txt"));
    logic.AddFile(dir.U16Path("a.txt"));
    EXPECT_TRUE(logic.FinishAdding(0, BatchRenameLogic::SortAfterAdd::kWhenListWasEmpty));
    logic.RefreshPreview();
    EXPECT_EQ(logic.NewNameAt(0), u"a.txt");

    logic.AddFile(u"/z/0.txt");  // appended to a list that had items: stays at the end
    EXPECT_TRUE(logic.FinishAdding(2, BatchRenameLogic::SortAfterAdd::kWhenListWasEmpty));
    logic.RefreshPreview();
    EXPECT_EQ(logic.NewNameAt(2), u"0.txt");

    // A folder adds its files (not the sub-folder), then sorts everything;
    // the two files it holds are in the list already.
    EXPECT_FALSE(logic.AddFolder(dir.u16()));
    EXPECT_FALSE(logic.FinishAdding(3, BatchRenameLogic::SortAfterAdd::kAlways));
    EXPECT_FALSE(logic.AddFile(dir.U16Path("a.txt")));
    EXPECT_EQ(logic.List().Count(), 3u);

    logic.Restart();
    EXPECT_FALSE(logic.HasRows());
    EXPECT_EQ(logic.List().Count(), 0u);
}

TEST(BatchRenameLogic, EachPassChecksTheRowsAgainstTheDisk) {
    TempDir dir;
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) dir.MakeFile(name);
    BatchRenameLogic logic;
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) logic.AddFile(dir.U16Path(name));
    logic.RefreshPreview();
    EXPECT_FALSE(logic.AnythingToRename());
    EXPECT_EQ(logic.Counts().unchanged, 4u);
    EXPECT_EQ(logic.CheckAt(0).state, RowState::kUnchanged);

    // a.txt becomes x.txt; the others keep their names.
    logic.Options().findText = u"a";
    logic.Options().replaceText = u"x";
    logic.Options().nameTemplate = u"<N>";
    logic.RefreshPreview();
    EXPECT_TRUE(logic.AnythingToRename());
    EXPECT_TRUE(logic.ProblemRows(10).empty());
    // A file appears at a new name: the next pass marks its row.
    dir.MakeFile("x.txt");
    logic.RefreshPreview();
    EXPECT_EQ(logic.CheckAt(0).state, RowState::kConflict);
    EXPECT_EQ(logic.CheckAt(0).problem, RowProblem::kTakenByFile);
    EXPECT_EQ(logic.ProblemRows(10), (std::vector<std::size_t>{0}));
    EXPECT_EQ(logic.Counts().conflicts, 1u);
    EXPECT_EQ(logic.Counts().unchanged, 3u);
    EXPECT_EQ(logic.CheckAt(99).state, RowState::kOk) << "no such row";
}

TEST(BatchRenameLogic, GatherOptionsStopsAtABadNumber) {
    BatchRenameLogic logic;
    OptionInputs in;
    in.startNumber = 0;
    in.increment = 5;
    in.nameTemplate = u"new";
    in.caseMode = 2;
    EXPECT_EQ(logic.GatherOptions(in), BadField::kStartNumber);
    EXPECT_EQ(logic.Options().startNumber, 0);  // kept, so the preview shows numbers from 0
    EXPECT_EQ(logic.Options().caseMode, CaseMode::kAllLower);
    EXPECT_EQ(logic.Options().increment, 1);  // reading stopped before it
    EXPECT_EQ(logic.Options().nameTemplate, u"");

    in.startNumber = 7;
    in.increment = 100000000;
    EXPECT_EQ(logic.GatherOptions(in), BadField::kIncrement);
    EXPECT_EQ(logic.Options().startNumber, 7);

    in.increment = std::nullopt;  // the field holds no number
    EXPECT_EQ(logic.GatherOptions(in), BadField::kIncrement);
    EXPECT_EQ(logic.Options().increment, 0);

    in.increment = 99999999;
    EXPECT_EQ(logic.GatherOptions(in), BadField::kNone);
    EXPECT_EQ(logic.Options().nameTemplate, u"new");
}

// The date taken is read once, sorts the rows and names them; the rows whose
// file has none are known, for the window to tell them apart.
TEST(BatchRenameLogic, DateTakenSortsNamesAndTellsFallenBackRowsApart) {
    TempDir dir;
    testing::WriteJpeg(dir.Path("a.jpg"), testing::TakenAt("2003:10:04 03:10:45"));
    testing::WriteJpeg(dir.Path("b.jpg"), testing::TakenAt("1999:01:02 03:04:05"));
    dir.MakeFile("c.jpg", 5);
    BatchRenameLogic logic;
    OptionInputs in;
    in.startNumber = 1;
    in.increment = 1;
    in.nameTemplate = u"<YYYY>";
    in.sortKey = static_cast<int>(SortKey::kModifiedTime);
    in.dateSource = static_cast<int>(DateSource::kTaken);
    ASSERT_EQ(logic.GatherOptions(in), BadField::kNone);
    logic.AddFolder(dir.u16());
    logic.FinishAdding(0, BatchRenameLogic::SortAfterAdd::kAlways);
    logic.RefreshPreview();
    EXPECT_EQ(logic.NewNameAt(0), u"1999.jpg");
    EXPECT_EQ(logic.NewNameAt(1), u"2003.jpg");
    EXPECT_FALSE(logic.DateFellBack(0));
    EXPECT_FALSE(logic.DateFellBack(1));
    EXPECT_TRUE(logic.DateFellBack(2));  // c.jpg, modified just now
    EXPECT_FALSE(logic.DateFellBack(3));

    // Names without file dates, or from the modified times, fall back nowhere.
    in.nameTemplate = u"<N>";
    logic.GatherOptions(in);
    logic.RefreshPreview();
    EXPECT_FALSE(logic.DateFellBack(2));
    in.nameTemplate = u"<YYYY>";
    in.dateSource = static_cast<int>(DateSource::kModified);
    logic.GatherOptions(in);
    logic.RefreshPreview();
    EXPECT_FALSE(logic.DateFellBack(2));
    EXPECT_NE(logic.NewNameAt(0), u"1999.jpg");

    const std::u16string first(logic.List().ItemAt(0).Whole());
    EXPECT_EQ(logic.Dates().HasCaptureDate(first), true);
    logic.Restart();
    EXPECT_EQ(logic.Dates().HasCaptureDate(first), std::nullopt);
}

TEST(BatchRenameLogic, TemplateTokens) {
    EXPECT_EQ(BatchRenameLogic::TemplateToken(0), u"");
    EXPECT_EQ(BatchRenameLogic::TemplateToken(5), u"#");
    EXPECT_EQ(BatchRenameLogic::TemplateToken(7), u"<zKB>");
    EXPECT_EQ(BatchRenameLogic::TemplateToken(20), u"<THH_mm_ss>");
    EXPECT_EQ(BatchRenameLogic::TemplateToken(21), u"");
    EXPECT_EQ(BatchRenameLogic::NameRangeToken(u"", u""), u"<N>");
    EXPECT_EQ(BatchRenameLogic::NameRangeToken(u"2", u"3"), u"<N2,3>");
    EXPECT_EQ(BatchRenameLogic::NameRangeToken(u"", u"4"), u"<N,4>");
    BatchRenameLogic logic;
    EXPECT_EQ(logic.NameForRange(), u"");
    logic.AddFile(u"/d/holiday.jpg");
    EXPECT_EQ(logic.NameForRange(), u"holiday");
}

}  // namespace
}  // namespace morix::ui
