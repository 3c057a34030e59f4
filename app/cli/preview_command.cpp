#include "app/cli/preview_command.h"

#include "engine/paths.h"
#include "engine/preview.h"
#include "engine/row_check.h"
#include "engine/text.h"

namespace morix::cli {
namespace {

const char* StateName(RowState state) {
    switch (state) {
        case RowState::kOk:
            return "ok";
        case RowState::kUnchanged:
            return "unchanged";
        case RowState::kConflict:
            return "conflict";
        case RowState::kImpossible:
            break;
    }
    return "impossible";
}

// "conflict: a.txt -> b.txt: taken by a file not in the list" for every row
// that a run could not carry out; whether there was any.
bool NameProblemRows(const RenameList& list, std::span<const std::uint32_t> rows,
                     const NameList& names, const std::vector<RowCheck>& checks, std::FILE* err) {
    bool any = false;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        if (!StopsARun(checks[r].state)) continue;
        any = true;
        std::fprintf(err, "%s: %s -> %s: %s\n", StateName(checks[r].state),
                     EncodeFileName(list.ItemAt(rows[r]).name).c_str(),
                     EncodeFileName(names[r]).c_str(), ProblemText(checks[r].problem));
    }
    return any;
}

}  // namespace

int RunPreview(CommandLine commandLine, std::FILE* out, std::FILE* err) {
    RenameList list;
    CaptureDateCache dates;
    const std::vector<std::uint32_t> rows = CollectRows(commandLine, list, dates);
    NameRegistry registry;
    const NameList names = ComputeNewNames(list, rows, commandLine.options, registry, &dates);
    std::vector<RowCheck> checks;
    bool problems = false;
    if (commandLine.check || commandLine.verbose) {
        RealFileSystem fs;
        checks = CheckPreviewRows(fs, list, rows, names);
        if (commandLine.check) problems = NameProblemRows(list, rows, names, checks, err);
    }

    const char fieldEnd = commandLine.nullOutput ? '\0' : '\t';
    const char lineEnd = commandLine.nullOutput ? '\0' : '\n';
    std::string buffer;
    constexpr std::size_t kFlushAt = 1 << 20;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        PrefetchAhead(list, rows, r);
        const RenameItem item = list.ItemAt(rows[r]);
        AppendFileNameBytes(buffer, item.name);
        buffer += fieldEnd;
        AppendFileNameBytes(buffer, names[r]);
        buffer += fieldEnd;
        AppendFileNameBytes(buffer, item.Parent());
        if (commandLine.verbose) {
            buffer += fieldEnd;
            buffer += StateName(checks[r].state);
        }
        buffer += lineEnd;
        if (buffer.size() >= kFlushAt) {
            std::fwrite(buffer.data(), 1, buffer.size(), out);
            buffer.clear();
        }
    }
    std::fwrite(buffer.data(), 1, buffer.size(), out);
    if (std::fflush(out) != 0 || std::ferror(out)) return 1;
    // Names shown without the replacement asked for are no answer.
    if (!names.RegexStoppedRows().empty()) {
        ReportRegexStopped(list, rows, names.RegexStoppedRows(), err);
        return 2;
    }
    return commandLine.check && problems ? kPreviewFoundProblems : 0;
}

}  // namespace morix::cli
