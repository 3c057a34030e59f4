#include "engine/rename_list.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>

#include "engine/file_info.h"

namespace morix {

bool RenameList::AddItem(std::u16string path) {
    path = canonical_.Canonical(std::move(path));
    const auto next = static_cast<std::uint32_t>(items_.size());
    const std::uint64_t hash = std::hash<std::u16string_view>{}(path);
    const std::uint32_t id =
        index_.Insert(hash, next, [&](std::uint32_t other) { return items_[other].path == path; });
    if (id != next) return false;
    items_.push_back(RenameItem{Keep(path)});
    return true;
}

std::u16string_view RenameList::Keep(std::u16string_view path) {
    constexpr std::size_t kChunk = 32768;  // characters
    if (path.empty()) return {};
    if (chunks_.empty() || path.size() > chunkSize_ - chunkUsed_) {
        chunkSize_ = std::max(kChunk, path.size());
        chunks_.push_back(std::make_unique_for_overwrite<char16_t[]>(chunkSize_));
        chunkUsed_ = 0;
    }
    char16_t* const at = chunks_.back().get() + chunkUsed_;
    std::copy(path.begin(), path.end(), at);
    chunkUsed_ += path.size();
    return {at, path.size()};
}

const RenameItem& RenameList::ItemAt(std::size_t index) const {
    if (index >= items_.size()) {
        std::fprintf(stderr, "RenameList::ItemAt: index %zu out of range (%zu items)\n", index,
                     items_.size());
        std::abort();
    }
    return items_[index];
}

void RenameList::Clear() {
    index_ = FlatHashIndex();
    items_.clear();
    items_.shrink_to_fit();
    chunks_.clear();
    chunkSize_ = chunkUsed_ = 0;
    canonical_.Forget();
}

bool RenameList::AddFolder(std::u16string_view folder) {
    std::optional<std::vector<std::u16string>> files = ListFolderFiles(folder);
    if (!files) return false;
    items_.reserve(items_.size() + files->size());
    index_.Reserve(items_.size() + files->size());
    bool allAdded = true;
    for (std::u16string& path : *files) {
        allAdded = AddItem(std::move(path)) && allAdded;
    }
    return allAdded;
}

}  // namespace morix
