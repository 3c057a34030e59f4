// Telling one volume from another that is mounted at the same place later: a
// card swapped for another, an image remounted on the same loop device.
#pragma once

#include <string>

namespace morix {

// The volume's type, the part of it that is mounted there, and its UUID
// where one can be read; without a UUID, its file-system id and device
// number. Equal for the same volume across remounts (where it has a UUID);
// different for another volume. Empty when the folder open on folderFd
// cannot be looked up.
std::string VolumeIdentity(int folderFd);

// Where the root of the volume of the folder open on folderFd is mounted;
// empty when only a part of the volume is mounted, or it cannot be told.
std::string VolumeRootFolder(int folderFd);

}  // namespace morix
