#include "app/cli/preview_command.h"

#include "engine/paths.h"
#include "engine/preview.h"
#include "engine/text.h"

namespace morix::cli {

int RunPreview(const CommandLine& commandLine, std::FILE* out) {
    RenameList list;
    CaptureDateCache dates;
    const std::vector<std::uint32_t> rows = CollectRows(commandLine, list, dates);
    NameRegistry registry;
    const NameList names = ComputeNewNames(list, rows, commandLine.options, registry, &dates);

    const char fieldEnd = commandLine.nullOutput ? '\0' : '\t';
    const char lineEnd = commandLine.nullOutput ? '\0' : '\n';
    std::string buffer;
    constexpr std::size_t kFlushAt = 1 << 20;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        PrefetchAhead(list, rows, r);
        const std::u16string& path = list.ItemAt(rows[r]).path;
        AppendFileNameBytes(buffer, FileName(path));
        buffer += fieldEnd;
        AppendFileNameBytes(buffer, names[r]);
        buffer += fieldEnd;
        AppendFileNameBytes(buffer, Folder(path));
        buffer += lineEnd;
        if (buffer.size() >= kFlushAt) {
            std::fwrite(buffer.data(), 1, buffer.size(), out);
            buffer.clear();
        }
    }
    std::fwrite(buffer.data(), 1, buffer.size(), out);
    return std::fflush(out) == 0 && !std::ferror(out) ? 0 : 1;
}

}  // namespace morix::cli
