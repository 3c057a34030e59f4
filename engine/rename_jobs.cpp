#include "engine/rename_jobs.h"

#include <algorithm>
#include <cstring>

namespace morix {

RenameJobs::RenameJobs(const RenameJobs& other) {
    *this = other;
}

RenameJobs& RenameJobs::operator=(const RenameJobs& other) {
    if (this == &other) return *this;
    RenameJobs copy;
    copy.Reserve(other.size());
    for (std::size_t j = 0; j < other.size(); ++j) copy.Add(other.old_[j], other.new_[j]);
    copy.errors_ = other.errors_;
    copy.done_ = other.done_;
    for (const auto& [j, path] : other.temp_) copy.SetTempPath(j, path);
    return *this = std::move(copy);
}

void RenameJobs::Reserve(std::size_t count) {
    old_.reserve(count);
    new_.reserve(count);
    errors_.reserve(count);
    done_.reserve(count);
}

void RenameJobs::Add(std::string_view oldPath, std::string_view newPath) {
    old_.push_back(Keep(oldPath));
    new_.push_back(Keep(newPath));
    errors_.push_back(0);
    done_.push_back(0);
}

RenameJob RenameJobs::operator[](std::size_t j) const {
    RenameJob job{old_[j], {}, new_[j], done_[j] != 0, errors_[j]};
    const std::size_t t = TempOf(j);
    if (t < temp_.size() && temp_[t].first == j) job.tempPath = temp_[t].second;
    return job;
}

void RenameJobs::ClearOutcome() {
    std::fill(errors_.begin(), errors_.end(), 0);
    std::fill(done_.begin(), done_.end(), 0);
    temp_.clear();  // their bytes stay in the chunks until the jobs go
}

void RenameJobs::SetTempPath(std::size_t j, std::string_view path) {
    const std::size_t t = TempOf(j);
    if (t < temp_.size() && temp_[t].first == j) {
        temp_[t].second = Keep(path);
    } else {
        temp_.insert(temp_.begin() + static_cast<std::ptrdiff_t>(t),
                     {static_cast<std::uint32_t>(j), Keep(path)});
    }
}

std::size_t RenameJobs::TempOf(std::size_t j) const {
    return static_cast<std::size_t>(
        std::lower_bound(temp_.begin(), temp_.end(), j,
                         [](const auto& t, std::size_t k) { return t.first < k; }) -
        temp_.begin());
}

std::string_view RenameJobs::Keep(std::string_view path) {
    constexpr std::size_t kChunk = 65536;  // bytes
    const std::size_t need = path.size() + 1;
    if (chunks_.empty() || need > chunkSize_ - chunkUsed_) {
        chunkSize_ = std::max(kChunk, need);
        chunks_.push_back(std::make_unique_for_overwrite<char[]>(chunkSize_));
        chunkUsed_ = 0;
    }
    char* const at = chunks_.back().get() + chunkUsed_;
    if (!path.empty()) std::memcpy(at, path.data(), path.size());
    at[path.size()] = '\0';
    chunkUsed_ += need;
    return {at, path.size()};
}

}  // namespace morix
