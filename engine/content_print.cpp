#include "engine/content_print.h"

#include <zlib.h>

#include <algorithm>

namespace morix {
namespace {

constexpr std::uint64_t kPrintSpan = 4096;

std::uint64_t Checksum(const std::string& bytes) {
    return crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
}

}  // namespace

std::optional<std::uint64_t> ContentPrint(FileSystem& fs, const std::string& path,
                                          std::uint64_t size) {
    // One opening of the file: on a FUSE volume each costs a search of
    // its folder.
    const auto span = static_cast<std::size_t>(std::min(size, kPrintSpan));
    std::string head(span, '\0');
    std::string tail(span, '\0');
    const int error = span == size ? fs.ReadAt(path, {{0, head}})
                                   : fs.ReadAt(path, {{0, head}, {size - span, tail}});
    if (error != 0) return std::nullopt;
    return Checksum(head) << 32 | Checksum(span == size ? head : tail);
}

}  // namespace morix
