#include "ui/logic/row_order.h"

#include <algorithm>
#include <utility>

namespace morix::ui {

void RowOrder::ClearSelection() {
    std::fill(selected_.begin(), selected_.end(), 0);
}

std::vector<std::size_t> RowOrder::SelectedRows() const {
    std::vector<std::size_t> rows;
    for (std::size_t r = 0; r < selected_.size(); ++r) {
        if (selected_[r]) rows.push_back(r);
    }
    return rows;
}

std::vector<RowOrder::Range> RowOrder::SelectedRanges() const {
    std::vector<Range> ranges;
    for (std::size_t r = 0; r < selected_.size(); ++r) {
        if (!selected_[r]) continue;
        if (!ranges.empty() && ranges.back().last + 1 == r) {
            ranges.back().last = r;
        } else {
            ranges.push_back({r, r});
        }
    }
    return ranges;
}

void RowOrder::SelectRange(Range range) {
    std::fill(selected_.begin() + static_cast<std::ptrdiff_t>(range.first),
              selected_.begin() + static_cast<std::ptrdiff_t>(range.last) + 1, 1);
}

std::optional<std::size_t> RowOrder::RowOf(std::uint32_t item) const {
    const auto at = std::find(rows_.begin(), rows_.end(), item);
    if (at == rows_.end()) return std::nullopt;
    return static_cast<std::size_t>(at - rows_.begin());
}

void RowOrder::Append(std::uint32_t item) {
    rows_.push_back(item);
    selected_.push_back(0);
}

void RowOrder::Clear() {
    rows_.clear();
    selected_.clear();
}

void RowOrder::Assign(std::vector<std::uint32_t> rows) {
    rows_ = std::move(rows);
    selected_.assign(rows_.size(), 0);
}

void RowOrder::Reorder(std::vector<std::uint32_t> rows) {
    std::uint32_t items = 0;
    for (std::uint32_t item : rows_)
        items = std::max(items, item + 1);
    std::vector<char> selectedItems(items, 0);
    for (std::size_t r = 0; r < rows_.size(); ++r)
        selectedItems[rows_[r]] = selected_[r];
    rows_ = std::move(rows);
    selected_.resize(rows_.size());
    for (std::size_t r = 0; r < rows_.size(); ++r)
        selected_[r] = rows_[r] < items ? selectedItems[rows_[r]] : 0;
}

void RowOrder::MoveSelectionUp() {
    const std::size_t n = rows_.size();
    if (n == 0) return;
    bool blocked = selected_[0] != 0;
    for (std::size_t r = 1; r < n; ++r) {
        if (!selected_[r]) {
            blocked = false;
        } else if (!blocked) {
            std::swap(rows_[r - 1], rows_[r]);
            std::swap(selected_[r - 1], selected_[r]);
        }
    }
}

void RowOrder::MoveSelectionDown() {
    const std::size_t n = rows_.size();
    if (n == 0) return;
    bool blocked = selected_[n - 1] != 0;
    for (std::size_t r = n - 1; r-- > 0;) {
        if (!selected_[r]) {
            blocked = false;
        } else if (!blocked) {
            std::swap(rows_[r + 1], rows_[r]);
            std::swap(selected_[r + 1], selected_[r]);
        }
    }
}

bool RowOrder::DropSelectionBefore(std::size_t target) {
    if (target >= rows_.size() || selected_[target]) return false;
    std::vector<std::uint32_t> before;
    std::vector<std::uint32_t> moved;
    std::vector<std::uint32_t> after;
    for (std::size_t r = 0; r < rows_.size(); ++r) {
        if (selected_[r]) {
            moved.push_back(rows_[r]);
        } else {
            (r < target ? before : after).push_back(rows_[r]);
        }
    }
    if (moved.empty()) return false;
    before.insert(before.end(), moved.begin(), moved.end());
    before.insert(before.end(), after.begin(), after.end());
    Assign(std::move(before));
    return true;
}

}  // namespace morix::ui
