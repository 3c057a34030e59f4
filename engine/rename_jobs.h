// The jobs of a rename run: for every file its path before and after the
// run, and once a run has ended, how each job ended. A run over a million
// files holds a million pairs of paths, so they are kept as the file
// system's bytes in shared blocks, not as strings of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace morix {

// One job, as views into its RenameJobs: valid until they change or go.
struct RenameJob {
    std::string_view oldPath;   // the file's path before the run; unique within a run
    std::string_view tempPath;  // after a run that could not put the file back: the temporary
                                // name it was left under; empty otherwise
    std::string_view newPath;   // Folder(oldPath) + the new name
    bool done = false;          // the file is at newPath
    int error = 0;  // after a failed run: why this file could not move (see MoveFailureText)
};

class RenameJobs {
  public:
    RenameJobs() = default;
    RenameJobs(const RenameJobs& other);
    RenameJobs& operator=(const RenameJobs& other);
    RenameJobs(RenameJobs&&) noexcept = default;
    RenameJobs& operator=(RenameJobs&&) noexcept = default;

    // Room for count jobs.
    void Reserve(std::size_t count);
    // Appends the job that moves the file at oldPath to newPath.
    void Add(std::string_view oldPath, std::string_view newPath);

    std::size_t size() const { return old_.size(); }
    bool empty() const { return old_.empty(); }
    RenameJob operator[](std::size_t j) const;

    // Every job's path before and after the run, in job order; each view is
    // followed by a NUL in memory.
    const std::vector<std::string_view>& OldPaths() const { return old_; }
    const std::vector<std::string_view>& NewPaths() const { return new_; }

    // A run records here how each job ended.
    void ClearOutcome();
    void SetError(std::size_t j, int error) { errors_[j] = error; }
    int Error(std::size_t j) const { return errors_[j]; }
    void SetDone(std::size_t j, bool done) { done_[j] = done ? 1 : 0; }
    void SetTempPath(std::size_t j, std::string_view path);

    class Iterator {
      public:
        using iterator_category = std::input_iterator_tag;
        using value_type = RenameJob;
        using difference_type = std::ptrdiff_t;
        Iterator(const RenameJobs& jobs, std::size_t j) : jobs_(&jobs), j_(j) {}
        RenameJob operator*() const { return (*jobs_)[j_]; }
        Iterator& operator++() {
            ++j_;
            return *this;
        }
        bool operator==(const Iterator& other) const { return j_ == other.j_; }

      private:
        const RenameJobs* jobs_;
        std::size_t j_;
    };
    Iterator begin() const { return Iterator(*this, 0); }
    Iterator end() const { return Iterator(*this, size()); }

  private:
    using TempPaths = std::vector<std::pair<std::uint32_t, std::string_view>>;

    // A lasting copy of path, NUL-terminated, in chunks_.
    std::string_view Keep(std::string_view path);
    // Where in temp_ job j is, or would be.
    std::size_t TempOf(std::size_t j) const;

    std::vector<std::unique_ptr<char[]>> chunks_;
    std::size_t chunkSize_ = 0;  // bytes of the last chunk
    std::size_t chunkUsed_ = 0;  // of which taken
    std::vector<std::string_view> old_, new_;
    std::vector<int> errors_;
    std::vector<std::uint8_t> done_;
    TempPaths temp_;  // the few jobs that have a temporary path, in job order
};

}  // namespace morix
