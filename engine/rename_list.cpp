#include "engine/rename_list.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "engine/file_info.h"
#include "engine/text.h"

namespace morix {

bool RenameList::AddItem(std::u16string path) {
    path = canonical_.Canonical(std::move(path));
    const PathParts parts = SplitPath(path);
    return AddParts(FolderId(parts.folder), parts.name);
}

bool RenameList::AddParts(std::uint32_t folder, std::u16string_view name) {
    const auto next = static_cast<std::uint32_t>(items_.size());
    // Equal paths are equal folders (kept once each) with equal names.
    const std::uint64_t hash =
        std::hash<std::u16string_view>{}(name) ^ (folder * 0x9E3779B97F4A7C15ull);
    const std::uint32_t id = index_.Insert(hash, next, [&](std::uint32_t other) {
        const Item& item = items_[other];
        return item.folder == folder && std::u16string_view(item.name, item.nameLength) == name;
    });
    if (id != next) return false;
    const std::u16string_view kept = Keep(name);
    items_.push_back(Item{kept.data(), static_cast<std::uint32_t>(kept.size()), folder});
    return true;
}

std::uint32_t RenameList::FolderId(std::u16string_view folder) {
    if (lastFolder_ != FlatHashIndex::kNone && folders_[lastFolder_] == folder) return lastFolder_;
    const auto next = static_cast<std::uint32_t>(folders_.size());
    lastFolder_ =
        folderIndex_.Insert(std::hash<std::u16string_view>{}(folder), next,
                            [&](std::uint32_t other) { return folders_[other] == folder; });
    if (lastFolder_ == next) folders_.push_back(Keep(folder));
    return lastFolder_;
}

std::u16string_view RenameList::Keep(std::u16string_view text) {
    constexpr std::size_t kChunk = 32768;  // characters
    if (text.empty()) return {};
    if (chunks_.empty() || text.size() > chunkSize_ - chunkUsed_) {
        chunkSize_ = std::max(kChunk, text.size());
        chunks_.push_back(std::make_unique_for_overwrite<char16_t[]>(chunkSize_));
        chunkUsed_ = 0;
    }
    char16_t* const at = chunks_.back().get() + chunkUsed_;
    std::copy(text.begin(), text.end(), at);
    chunkUsed_ += text.size();
    return {at, text.size()};
}

RenameItem RenameList::ItemAt(std::size_t index) const {
    if (index >= items_.size()) {
        std::fprintf(stderr, "RenameList::ItemAt: index %zu out of range (%zu items)\n", index,
                     items_.size());
        std::abort();
    }
    const Item& item = items_[index];
    return {folders_[item.folder], {item.name, item.nameLength}};
}

void RenameList::Clear() {
    index_ = FlatHashIndex();
    folderIndex_ = FlatHashIndex();
    items_.clear();
    items_.shrink_to_fit();
    folders_.clear();
    folders_.shrink_to_fit();
    lastFolder_ = FlatHashIndex::kNone;
    chunks_.clear();
    chunkSize_ = chunkUsed_ = 0;
    canonical_.Forget();
}

bool RenameList::AddFolder(std::u16string_view folder, int* error) {
    std::string names;
    const int listError = ListFolderFileNames(folder, names);
    if (error != nullptr) *error = listError;
    if (listError != 0) return false;
    // Every file of the folder has the folder's canonical form in front of
    // its name: it is worked out once, not for each path.
    std::u16string canonical = canonical_.Canonical(std::u16string(folder) + u'/');
    if (canonical.back() != u'/') canonical.push_back(u'/');
    const std::uint32_t folderId = FolderId(canonical);
    bool allAdded = true;
    std::u16string name;  // reused
    for (std::size_t at = 0; at < names.size();) {
        const std::size_t end = names.find('\0', at);
        name.clear();
        AppendDecodedFileName(name, std::string_view(names).substr(at, end - at));
        allAdded = AddParts(folderId, name) && allAdded;
        at = end + 1;
    }
    return allAdded;
}

}  // namespace morix
