// What the main window's commands do to the rename list, the row order and
// the options, kept apart from the widgets so it can run without a display.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/capture_date_cache.h"
#include "engine/new_name.h"
#include "engine/rename_list.h"
#include "engine/rename_options.h"
#include "engine/row_check.h"
#include "ui/logic/row_order.h"

namespace morix::ui {

// The options as the controls hold them, before they are checked.
struct OptionInputs {
    int templatePick = 0;
    int caseMode = 0;
    int sortKey = 0;
    int dateSource = 0;
    // The number fields' values; none when a field holds no number.
    std::optional<std::int32_t> startNumber;
    std::optional<std::int32_t> increment;
    std::u16string nameTemplate;
    std::u16string newExtension;
    std::u16string findText;
    std::u16string replaceText;
    bool changeExtension = false;
    bool caseSensitive = false;
    bool regex = false;
    bool normalizeUnicode = true;
    bool descending = false;
};

// Which number field failed its check, if any.
enum class BadField { kNone, kStartNumber, kIncrement };

class BatchRenameLogic {
  public:
    static constexpr std::int32_t kMaxNumber = 99999999;

    RenameList& List() { return list_; }
    const RenameList& List() const { return list_; }
    RowOrder& Rows() { return rows_; }
    const RowOrder& Rows() const { return rows_; }
    RenameOptions& Options() { return options_; }
    const RenameOptions& Options() const { return options_; }
    NameRegistry& Registry() { return registry_; }
    // The capture dates read so far, kept for the next passes.
    CaptureDateCache& Dates() { return dates_; }

    // The new name shown in a row (empty before the first preview).
    std::u16string_view NewNameAt(std::size_t row) const {
        return row < names_.size() ? names_[row] : std::u16string_view{};
    }
    // Whether the run could carry a row out, as the last preview found the
    // disk (ok before the first preview).
    RowCheck CheckAt(std::size_t row) const {
        return row < checks_.size() ? checks_[row] : RowCheck{};
    }
    const RowCounts& Counts() const { return counts_; }
    // The rows that are a conflict or impossible, in display order, at most max.
    std::vector<std::size_t> ProblemRows(std::size_t max) const;
    // Whether a run would change any name.
    bool AnythingToRename() const { return counts_.unchanged < checks_.size(); }

    // Whether a limit stopped the regular expression on a row's name in the
    // last preview; the row shows its name without the replacement.
    bool RegexStoppedAt(std::size_t row) const { return names_.RegexStopped(row); }
    const std::vector<std::size_t>& RegexStoppedRows() const { return names_.RegexStoppedRows(); }
    // With the regex option: why the find text or the replacement cannot be
    // used, if so. Nothing is renamed then.
    std::optional<RegexError> RegexProblem() const;
    // Whether the new name of row took its date from the file's modified
    // time because the file has no capture date, when names are made with
    // the dates taken.
    bool DateFellBack(std::size_t row) const;

    // Appends path as an item and a selected row at the end; false when the
    // list holds it already.
    bool AddFile(std::u16string path);
    // Appends the files directly inside folder; false when the folder cannot
    // be read or one of its files was in the list already.
    bool AddFolder(std::u16string_view folder);

    // After an add command that began with countBefore items: when anything
    // was added, sort all rows (always, or only when the list was empty
    // before). Returns whether anything was added; the caller refreshes the
    // preview once.
    enum class SortAfterAdd { kAlways, kWhenListWasEmpty };
    bool FinishAdding(std::size_t countBefore, SortAfterAdd sort);

    // Reads the inputs into the options. A start number or increment that is
    // missing or not from 1 to 99999999 stops the reading there (later fields
    // keep their values; the number read, or 0, is kept) and is returned.
    BadField GatherOptions(const OptionInputs& inputs);

    // Recomputes the new name of every row in display order, and checks
    // each against the disk.
    void RefreshPreview();
    // How many times the names were computed.
    int PreviewPasses() const { return previewPasses_; }
    // Sorts all rows by the options' sort key and direction; each row keeps
    // its selection. The caller refreshes the preview.
    void SortList();

    // Whether Copy and Rename have anything to work on.
    bool HasRows() const { return rows_.Count() > 0; }

    // The new names in display order, each followed by a line end.
    std::u16string ClipboardText() const;

    // After "Restart": no rows, no items; the options stay.
    void Restart();

    // The text a template-picker entry inserts (entry 1, the name range, is
    // built by NameRangeToken instead; entry 0 inserts nothing).
    static std::u16string TemplateToken(int pick);
    // "<N>" for two empty fields, else "<N" start "," length ">".
    static std::u16string NameRangeToken(std::u16string_view start, std::u16string_view length);
    // The name shown by the range dialog: the first row's name without
    // extension, or empty.
    std::u16string NameForRange() const;

  private:
    RenameList list_;
    RowOrder rows_;
    RenameOptions options_;
    NameRegistry registry_;
    NameList names_;
    int previewPasses_ = 0;
    RealFileSystem fs_;
    FolderListings listings_;  // kept from pass to pass while nothing changes
    std::vector<RowCheck> checks_;
    RowCounts counts_;
    CaptureDateCache dates_;
    bool namesUseDatesTaken_ = false;  // in the last preview pass
};

}  // namespace morix::ui
