// The run journal reader. A journal decides which files recovery moves, so
// whatever it accepts must be a record the writer could have made.
//
// Input: one byte; when its lowest bit is set, the checksum on the last line
// is first set to the right value, so the reader gets past it.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <variant>

#include <zlib.h>

#include "engine/run_journal.h"
#include "fuzz/fuzz_support.h"

using namespace morix;
using morix::fuzz::Check;

namespace {

// Sets the 8 hex digits after "end <folders> <files> " on the last line that
// starts with "end " to the checksum of everything before that line.
void FixChecksum(std::string& text) {
    std::size_t end = text.rfind("\nend ");
    if (end == std::string::npos) return;
    ++end;
    const std::size_t first = text.find(' ', end + 4);
    if (first == std::string::npos) return;
    const std::size_t digits = first + 1;
    if (text.size() < digits + 8) return;
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(text.data()),
                            static_cast<uInt>(end));
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08lx", crc & 0xffffffffUL);
    text.replace(digits, 8, hex);
}

bool SameRecord(const JournalRecord& a, const JournalRecord& b) {
    if (a.pid != b.pid || a.started != b.started || a.folders.size() != b.folders.size() ||
        a.stage != b.stage || a.finished != b.finished)
        return false;
    for (std::size_t i = 0; i < a.folders.size(); ++i) {
        const JournalFolder& fa = a.folders[i];
        const JournalFolder& fb = b.folders[i];
        if (fa.device != fb.device || fa.stableInodes != fb.stableInodes ||
            fa.volume != fb.volume || fa.path != fb.path || fa.files.size() != fb.files.size())
            return false;
        for (std::size_t j = 0; j < fa.files.size(); ++j) {
            const JournalFile& x = fa.files[j];
            const JournalFile& y = fb.files[j];
            if (x.identity.inode != y.identity.inode || x.identity.size != y.identity.size ||
                x.identity.mtimeSec != y.identity.mtimeSec ||
                x.identity.mtimeNsec != y.identity.mtimeNsec ||
                x.identity.btimeSec != y.identity.btimeSec ||
                x.identity.btimeNsec != y.identity.btimeNsec ||
                x.identity.folder != y.identity.folder || x.oldName != y.oldName ||
                x.newName != y.newName || x.parkName != y.parkName || x.print != y.print)
                return false;
        }
    }
    return true;
}

bool UsableName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    if ((data[0] & 1) != 0) FixChecksum(text);

    const auto parsed = ParseJournal(text);
    if (const auto* fault = std::get_if<std::string>(&parsed)) {
        Check(!fault->empty(), "a refused journal says why");
        return 0;
    }
    const JournalRecord& record = std::get<JournalRecord>(parsed);
    // Recovery renames inside the named folders only: no name may reach
    // outside its folder, and every folder is absolute.
    for (const JournalFolder& folder : record.folders) {
        Check(folder.path.empty() || folder.path.front() == '/', "a folder is absolute");
        Check(folder.path.find('\0') == std::string::npos, "a folder path holds no zero byte");
        for (const JournalFile& file : folder.files) {
            Check(UsableName(file.oldName) && UsableName(file.newName) &&
                      (file.parkName.empty() || UsableName(file.parkName)),
                  "a file name stays inside its folder");
        }
    }
    // Written again, the record reads back as itself, and writing is stable.
    const std::string written = FormatJournal(record);
    const auto reread = ParseJournal(written);
    Check(std::holds_alternative<JournalRecord>(reread), "a written journal reads back");
    Check(SameRecord(std::get<JournalRecord>(reread), record), "a journal reads back the same");
    Check(FormatJournal(std::get<JournalRecord>(reread)) == written, "writing a journal is stable");
    // A journal cut short anywhere before the end of its last line is
    // refused (marks appended after it may be cut: they were not made).
    const std::size_t body = written.find("\nend ") + 1;
    const std::size_t bodyEnd = written.find('\n', body) + 1;
    for (std::size_t cut = 0; cut < bodyEnd; cut += 1 + bodyEnd / 16) {
        Check(std::holds_alternative<std::string>(ParseJournal(written.substr(0, cut))),
              "a journal cut short is refused");
    }
    return 0;
}
