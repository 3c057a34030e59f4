// The order of the preview rows and which of them are selected. Rows hold
// item indexes; moving rows never touches the items.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace morix::ui {

class RowOrder {
  public:
    std::size_t Count() const { return rows_.size(); }
    const std::vector<std::uint32_t>& Rows() const { return rows_; }
    std::uint32_t ItemAt(std::size_t row) const { return rows_[row]; }

    bool IsSelected(std::size_t row) const { return selected_[row] != 0; }
    void Select(std::size_t row, bool on) { selected_[row] = on ? 1 : 0; }
    void ClearSelection();
    std::vector<std::size_t> SelectedRows() const;
    // The selection as runs of adjacent rows, first and last row of each, in
    // row order: a view writes and reads a large selection in a few ranges.
    struct Range {
        std::size_t first;
        std::size_t last;
    };
    std::vector<Range> SelectedRanges() const;
    void SelectRange(Range range);
    // The row that shows item, if any.
    std::optional<std::size_t> RowOf(std::uint32_t item) const;

    // A new row at the end for item.
    void Append(std::uint32_t item);
    void Clear();
    // Replaces the order; the selection goes.
    void Assign(std::vector<std::uint32_t> rows);
    // Puts the same items in a new order (a sort); each row's selection goes
    // with its item.
    void Reorder(std::vector<std::uint32_t> rows);

    // Every selected row moves one place up (down); a run of selected rows
    // moves as a block, and a block already at the edge stays, together with
    // the selected rows that would have to pass it.
    void MoveSelectionUp();
    void MoveSelectionDown();

    // Drops the selected rows in front of row target, in their former order,
    // and clears their selection. Nothing happens when target is itself
    // selected or out of range. Returns whether anything moved.
    bool DropSelectionBefore(std::size_t target);

  private:
    std::vector<std::uint32_t> rows_;
    std::vector<char> selected_;
};

}  // namespace morix::ui
