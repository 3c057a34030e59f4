// A folder's entries, read one by one, closed with the object.
#pragma once

#include <dirent.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace morix {

class DirStream {
  public:
    explicit DirStream(const std::string& folder)
        : dir_(opendir(folder.empty() ? "/" : folder.c_str())), error_(dir_ ? 0 : errno) {}
    ~DirStream() {
        if (dir_ != nullptr) closedir(dir_);
    }
    DirStream(const DirStream&) = delete;
    DirStream& operator=(const DirStream&) = delete;

    // 0, or why the folder could not be opened or read to its end.
    int Error() const { return error_; }
    // The descriptor of the open folder, for calls relative to it.
    int Fd() const { return dir_ != nullptr ? dirfd(dir_) : -1; }

    // The next entry other than "." and "..", or null at the end.
    const dirent* Next() {
        if (dir_ == nullptr) return nullptr;
        for (;;) {
            errno = 0;
            const dirent* entry = readdir(dir_);
            if (entry == nullptr) {
                error_ = errno;
                return nullptr;
            }
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                return entry;
        }
    }

  private:
    DIR* dir_;
    int error_;
};

}  // namespace morix
