// A temporary folder for tests that work on real files; removed with all its
// contents when the object goes away.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "engine/text.h"

namespace morix::testing {

class TempDir {
  public:
    // A place in memory where the system has one: flushing to disk costs
    // nothing there, for tests that flush thousands of times.
    static const char* InMemory() {
        return std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : nullptr;
    }

    explicit TempDir(const char* base = nullptr) {
        std::string pattern = std::string(base ? base : "/tmp") + "/morix-test-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder as bytes and as engine text.
    const std::string& bytes() const { return path_; }
    std::u16string u16() const { return DecodeFileName(path_); }

    // Full path of a name inside the folder.
    std::string Path(const std::string& name) const { return path_ + "/" + name; }
    std::u16string U16Path(const std::string& name) const { return DecodeFileName(Path(name)); }

    // Creates (or overwrites) a file of the given size; returns its full path.
    std::string MakeFile(const std::string& name, std::uint64_t size = 0) const {
        const std::string full = Path(name);
        std::ofstream(full, std::ios::binary | std::ios::trunc) << std::string(size, 'x');
        return full;
    }

    std::string MakeFolder(const std::string& name) const {
        const std::string full = Path(name);
        std::filesystem::create_directories(full);
        return full;
    }

    // Sets the modification time (seconds since 1970, UTC).
    static void SetModified(const std::string& full, std::int64_t seconds) {
        timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
        if (::utimensat(AT_FDCWD, full.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
            throw std::runtime_error("utimensat failed for " + full);
        }
    }

    // How many entries of the folder have names ending in suffix.
    std::size_t CountEnding(std::string_view suffix) const {
        std::size_t count = 0;
        for (const auto& entry : std::filesystem::directory_iterator(path_))
            count += entry.path().filename().string().ends_with(suffix);
        return count;
    }

    static std::string Read(const std::string& full) {
        std::ifstream in(full, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

  private:
    std::string path_;
};

// Runs the body with TZ set to zone, restoring the old value afterwards.
class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ"))
            old_ = old;
        had_ = std::getenv("TZ") != nullptr;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        if (had_) {
            ::setenv("TZ", old_.c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

  private:
    std::string old_;
    bool had_ = false;
};

}  // namespace morix::testing
