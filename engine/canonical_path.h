// The one spelling under which the rename list keeps a path, so that a file
// named in several ways is one item.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace morix {

// Turns absolute paths into their canonical form. The folder part is resolved
// through the file system (links to folders, ".", "..", repeated separators);
// the last component stays exactly as given, so a link that is named itself
// stays that link. A path that ends in "/", "/." or "/.." names a folder and is
// resolved whole ("/" stays "/"). Where a folder does not resolve (it does not
// exist), the path is normalized by its text alone (NormalizeLexically).
// Relative and empty paths come back unchanged: nothing here knows the folder
// they were meant from.
//
// The folder of the last path is remembered for a moment, so that a million
// paths from one folder cost one lookup; after that moment, or after Forget(),
// the folder is looked up anew (a link may have been pointed elsewhere).
class PathCanonicalizer {
  public:
    std::u16string Canonical(std::u16string path);

    void Forget() { remembered_ = false; }

  private:
    // Sets resolvedFolder_ to the resolved form of folder, from memory when
    // it was asked for last.
    void ResolveFolder(std::u16string_view folder);

    bool remembered_ = false;
    bool folderUnchanged_ = false;  // resolvedFolder_ == givenFolder_
    std::int64_t rememberedAtMs_ = 0;
    std::u16string givenFolder_;
    std::u16string resolvedFolder_;
};

}  // namespace morix
