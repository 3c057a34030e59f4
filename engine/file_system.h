// The file-system calls of a rename run, behind one small interface so that
// tests can make any single call fail. Paths are file-name bytes. Every call
// returns 0 on success or the errno value of the failure.
#pragma once

#include <string>
#include <vector>

namespace morix {

enum class RenameMode {
    kNoReplace,  // fail with EEXIST when the target exists
    kExchange,   // swap two existing names atomically
    kPlain,      // replaces an existing target: only behind an existence check
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // 0 when something occupies path (not following a final symbolic link).
    virtual int Lstat(const std::string& path) = 0;
    virtual int Rename(const std::string& from, const std::string& to, RenameMode mode) = 0;
    // A hard link to from under the name to; never replaces to.
    virtual int Link(const std::string& from, const std::string& to) = 0;
    virtual int Unlink(const std::string& path) = 0;
    // The names of the entries of folder, exactly as stored, without "." and "..".
    virtual int ListNames(const std::string& folder, std::vector<std::string>& names) = 0;
    // True when the volume of folder is known to store and look up every name
    // byte for byte (no case folding, no dropped trailing dots), so a move
    // needs no check of the stored name afterwards. False when unsure.
    virtual bool KeepsExactNames(const std::string& folder) = 0;
};

// The running system's file system. Calls name files relative to their
// folder, kept open from one call to the next: runs stay in few folders, and
// the kernel then looks up one name instead of a whole path.
class RealFileSystem final : public FileSystem {
  public:
    RealFileSystem() = default;
    ~RealFileSystem() override;
    RealFileSystem(const RealFileSystem&) = delete;
    RealFileSystem& operator=(const RealFileSystem&) = delete;

    int Lstat(const std::string& path) override;
    int Rename(const std::string& from, const std::string& to, RenameMode mode) override;
    int Link(const std::string& from, const std::string& to) override;
    int Unlink(const std::string& path) override;
    int ListNames(const std::string& folder, std::vector<std::string>& names) override;
    bool KeepsExactNames(const std::string& folder) override;

  private:
    struct Place {
        int dirFd;         // AT_FDCWD when the path is used whole
        const char* name;  // relative to dirFd
    };
    // Where path is, as a descriptor of its folder and its name there.
    Place At(const std::string& path);
    // The same for two paths: relative to one folder when both are in it,
    // else both whole.
    void At(const std::string& a, const std::string& b, Place& pa, Place& pb);

    std::string folder_;  // the folder that folderFd_ is open on
    int folderFd_ = -1;
};

}  // namespace morix
