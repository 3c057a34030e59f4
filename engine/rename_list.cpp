#include "engine/rename_list.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>

#include "engine/file_info.h"

namespace morix {

std::size_t RenameList::IndexHash::operator()(std::uint32_t index) const {
    return (*this)(std::u16string_view((*items)[index].path));
}

std::size_t RenameList::IndexHash::operator()(std::u16string_view path) const {
    return std::hash<std::u16string_view>{}(path);
}

RenameList::RenameList() : index_(0, IndexHash{&items_}, IndexEqual{&items_}) {}

bool RenameList::AddItem(std::u16string path) {
    if (index_.find(std::u16string_view(path)) != index_.end()) return false;
    items_.push_back(RenameItem{std::move(path)});
    index_.insert(static_cast<std::uint32_t>(items_.size() - 1));
    return true;
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
    index_.clear();
    items_.clear();
    items_.shrink_to_fit();
}

bool RenameList::AddFolder(std::u16string_view folder) {
    std::optional<std::vector<std::u16string>> files = ListFolderFiles(folder);
    if (!files) return false;
    items_.reserve(items_.size() + files->size());
    index_.reserve(items_.size() + files->size());
    bool allAdded = true;
    for (std::u16string& path : *files) {
        allAdded = AddItem(std::move(path)) && allAdded;
    }
    return allAdded;
}

}  // namespace morix
