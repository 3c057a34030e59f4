// A short print of a file's content, cheap enough to take for every file of
// a run: it tells the file's data again after a volume check has kept it
// without its name, where nothing else about the file survives.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/file_system.h"

namespace morix {

// The checksums of the first and of the last 4 KiB of the first size bytes
// of the file at path (of all of them when fewer), one in each half. Empty
// when they cannot be read, or the file holds fewer than size bytes.
std::optional<std::uint64_t> ContentPrint(FileSystem& fs, const std::string& path,
                                          std::uint64_t size);

}  // namespace morix
