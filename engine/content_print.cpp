#include "engine/content_print.h"

#include <zlib.h>

#include <algorithm>

namespace morix {
namespace {

constexpr std::uint64_t kPrintSpan = 4096;

std::optional<std::uint32_t> SpanChecksum(FileSystem& fs, const std::string& path,
                                          std::uint64_t offset, std::uint64_t length) {
    std::string bytes(static_cast<std::size_t>(length), '\0');
    if (fs.ReadAt(path, offset, bytes) != 0) return std::nullopt;
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

}  // namespace

std::optional<std::uint64_t> ContentPrint(FileSystem& fs, const std::string& path,
                                          std::uint64_t size) {
    const std::uint64_t span = std::min(size, kPrintSpan);
    const auto head = SpanChecksum(fs, path, 0, span);
    const auto tail = head ? SpanChecksum(fs, path, size - span, span) : std::nullopt;
    if (!tail) return std::nullopt;
    return std::uint64_t{*head} << 32 | *tail;
}

}  // namespace morix
