#include "base/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <optional>
#include <unordered_map>

#include "base/user_dirs.h"
#include "os/dir_stream.h"
#include "os/file_lock.h"
#include "os/files.h"
#include "engine/text.h"

namespace morix {
namespace {

constexpr std::string_view kHeader =
    "# Trelvo Renamer settings, one value a line: name=sz:\"text\",\n"
    "# name=dword:number (32-bit) or name=qword:number (64-bit).\n";

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

template <class T>
std::optional<T> ParseNumber(std::string_view digits) {
    if (digits.empty() || digits.front() < '0' || digits.front() > '9') return std::nullopt;
    T value{};
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return value;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Raw bytes of a quoted text must be valid UTF-8: decoding turns every byte
// that is not into a lone U+DC80..U+DCFF. The same units also end surrogate
// pairs of valid characters (U+1F480..U+1F4FF among them), which are kept.
bool AppendUtf8(std::u16string& out, std::string_view bytes) {
    const std::u16string decoded = DecodeFileName(bytes);
    for (std::size_t i = 0; i < decoded.size(); ++i) {
        const char16_t unit = decoded[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < decoded.size() &&
            decoded[i + 1] >= 0xDC00 && decoded[i + 1] <= 0xDFFF) {
            ++i;  // a pair: one valid character
            continue;
        }
        if (unit >= 0xDC80 && unit <= 0xDCFF) return false;
    }
    out += decoded;
    return true;
}

std::optional<std::u16string> ParseQuotedText(std::string_view quoted) {
    if (quoted.size() < 2 || quoted.front() != '"' || quoted.back() != '"') return std::nullopt;
    const std::string_view body = quoted.substr(1, quoted.size() - 2);
    std::u16string text;
    std::size_t runStart = 0;
    std::size_t i = 0;
    while (i < body.size()) {
        const unsigned char c = static_cast<unsigned char>(body[i]);
        if (c == '"' || c < 0x20 || c == 0x7F) return std::nullopt;
        if (c != '\\') {
            ++i;
            continue;
        }
        if (!AppendUtf8(text, body.substr(runStart, i - runStart)) || i + 1 >= body.size())
            return std::nullopt;
        const char escape = body[i + 1];
        i += 2;
        switch (escape) {
            case '\\':
                text += u'\\';
                break;
            case '"':
                text += u'"';
                break;
            case 'n':
                text += u'\n';
                break;
            case 'r':
                text += u'\r';
                break;
            case 't':
                text += u'\t';
                break;
            case 'u': {
                if (i + 4 > body.size()) return std::nullopt;
                unsigned unit = 0;
                for (std::size_t k = 0; k < 4; ++k) {
                    const int digit = HexDigit(body[i + k]);
                    if (digit < 0) return std::nullopt;
                    unit = unit * 16 + static_cast<unsigned>(digit);
                }
                text += static_cast<char16_t>(unit);
                i += 4;
                break;
            }
            default:
                return std::nullopt;
        }
        runStart = i;
    }
    if (!AppendUtf8(text, body.substr(runStart))) return std::nullopt;
    return text;
}

std::optional<SettingsFileEntry> ParseLine(std::string_view line) {
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string_view name = Trim(line.substr(0, equals));
    const std::string_view value = Trim(line.substr(equals + 1));
    if (!IsValidSettingName(name)) return std::nullopt;
    const std::size_t colon = value.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const std::string_view kind = value.substr(0, colon);
    const std::string_view data = value.substr(colon + 1);
    SettingsFileEntry entry{std::string(name), StoredValue()};
    if (kind == "sz") {
        std::optional<std::u16string> text = ParseQuotedText(data);
        if (!text) return std::nullopt;
        entry.value = std::move(*text);
    } else if (kind == "dword") {
        const auto number = ParseNumber<std::uint32_t>(data);
        if (!number) return std::nullopt;
        entry.value = *number;
    } else if (kind == "qword") {
        const auto number = ParseNumber<std::uint64_t>(data);
        if (!number) return std::nullopt;
        entry.value = *number;
    } else {
        return std::nullopt;
    }
    return entry;
}

void AppendEscapedUnit(std::string& out, char16_t unit) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "\\u%04X", static_cast<unsigned>(unit));
    out += buffer;
}

void AppendQuotedText(std::string& out, std::u16string_view text) {
    out += '"';
    std::size_t runStart = 0;
    auto flush = [&](std::size_t end) {
        AppendFileNameBytes(out, text.substr(runStart, end - runStart));
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            ++i;  // a valid pair goes out as UTF-8 with its run
            continue;
        }
        const bool lone = unit >= 0xD800 && unit <= 0xDFFF;
        if (!lone && unit >= 0x20 && unit != 0x7F && unit != u'"' && unit != u'\\') continue;
        flush(i);
        runStart = i + 1;
        switch (unit) {
            case u'"':
                out += "\\\"";
                break;
            case u'\\':
                out += "\\\\";
                break;
            case u'\n':
                out += "\\n";
                break;
            case u'\r':
                out += "\\r";
                break;
            case u'\t':
                out += "\\t";
                break;
            default:
                AppendEscapedUnit(out, unit);
                break;
        }
    }
    flush(text.size());
    out += '"';
}

void RemoveLeftoverTemporaries(const std::string& path) {
    const std::string prefix = TemporarySiblingPrefix(path);
    const std::string namePrefix = prefix.substr(prefix.find_last_of('/') + 1);
    DirStream dir(ParentFolder(prefix));
    while (const dirent* item = dir.Next()) {
        const std::string_view name(item->d_name);
        if (name.size() > namePrefix.size() && name.substr(0, namePrefix.size()) == namePrefix)
            ::unlinkat(dir.Fd(), item->d_name, 0);
    }
}

}  // namespace

std::optional<SettingsFileEntry> ParseSettingsLine(std::string_view line) {
    return ParseLine(line);
}

bool IsValidSettingName(std::string_view name) {
    if (name.empty()) return false;
    for (const char c : name) {
        if (c <= 0x20 || c >= 0x7F || c == '=') return false;
    }
    return name.front() != '#';
}

ParsedSettingsFile ParseSettingsFile(std::string_view text) {
    ParsedSettingsFile parsed;
    // Where each name stands in entries: a file of the largest size read holds
    // a million lines, and a search of all earlier names per line would take
    // hours.
    std::unordered_map<std::string, std::size_t> places;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == '#') continue;
        std::optional<SettingsFileEntry> entry = ParseLine(line);
        if (!entry) {
            ++parsed.damagedLines;
            continue;
        }
        const auto [place, added] = places.try_emplace(entry->name, parsed.entries.size());
        if (added) {
            parsed.entries.push_back(std::move(*entry));
        } else {
            parsed.entries[place->second].value = std::move(entry->value);
        }
    }
    return parsed;
}

void AppendSettingsLine(std::string& out, const SettingsFileEntry& entry) {
    out += entry.name;
    if (const auto* text = std::get_if<std::u16string>(&entry.value)) {
        out += "=sz:";
        AppendQuotedText(out, *text);
    } else if (const auto* dword = std::get_if<std::uint32_t>(&entry.value)) {
        out += "=dword:" + std::to_string(*dword);
    } else {
        out += "=qword:" + std::to_string(std::get<std::uint64_t>(entry.value));
    }
    out += '\n';
}

std::string FormatSettingsFile(const std::vector<SettingsFileEntry>& entries) {
    std::string out(kHeader);
    for (const SettingsFileEntry& entry : entries)
        AppendSettingsLine(out, entry);
    return out;
}

std::string DefaultSettingsFilePath() {
    const std::string config = UserConfigHome();
    if (config.empty()) return {};
    return config + (config.back() == '/' ? "" : "/") + "Vantorel/Trelvo Renamer.conf";
}

FileSettingsBackend::FileSettingsBackend(std::string path, std::function<void()> beforeReplace)
    : path_(std::move(path)), beforeReplace_(std::move(beforeReplace)) {}

ISettingsBackend::ReadStatus FileSettingsBackend::Read(std::string_view name, StoredValue& value) {
    if (path_.empty()) return ReadStatus::kUnavailable;
    const std::optional<std::string> text = ReadSmallFile(path_, kMaxFileBytes);
    if (!text) return ReadStatus::kUnavailable;
    for (SettingsFileEntry& entry : ParseSettingsFile(*text).entries) {
        if (entry.name == name) {
            value = std::move(entry.value);
            return ReadStatus::kFound;
        }
    }
    return ReadStatus::kMissing;
}

bool FileSettingsBackend::Write(std::string_view name, const StoredValue& value) {
    return Change(name, &value);
}

bool FileSettingsBackend::Remove(std::string_view name) {
    return Change(name, nullptr);
}

bool EditFileUnderLock(const std::string& path, std::size_t maxBytes, const FileEdit& edit,
                       const std::function<void()>& beforeReplace) {
    if (path.empty() || !MakeFolders(ParentFolder(path), 0700)) return false;
    UniqueFd lock;
    if (HoldLockFile(path + ".lock", true, lock) != 0) return false;
    // Under the lock only this program writes; a temporary file lying around
    // is what a writer that died before its rename left behind.
    RemoveLeftoverTemporaries(path);

    bool missing = false;
    const std::optional<std::string> text = ReadSmallFile(path, maxBytes, &missing);
    if (!text && !missing) return false;  // never replace a file whose contents could not be read
    std::optional<std::string> changed = edit(text.value_or(std::string()));
    if (!changed) return true;

    mode_t mode = 0600;
    struct stat info {};
    if (text && ::stat(path.c_str(), &info) == 0) mode = info.st_mode & 07777;
    return ReplaceFileAtomically(path, *changed, mode, beforeReplace);
}

// value null: remove the value.
bool FileSettingsBackend::Change(std::string_view name, const StoredValue* value) {
    if (!IsValidSettingName(name)) return false;
    return EditFileUnderLock(
        path_, kMaxFileBytes,
        [&](const std::string& text) -> std::optional<std::string> {
            ParsedSettingsFile parsed = ParseSettingsFile(text);
            auto it = parsed.entries.begin();
            while (it != parsed.entries.end() && it->name != name)
                ++it;
            if (value == nullptr) {
                if (it == parsed.entries.end()) return std::nullopt;
                parsed.entries.erase(it);
            } else if (it == parsed.entries.end()) {
                parsed.entries.push_back({std::string(name), *value});
            } else if (it->value == *value) {
                return std::nullopt;
            } else {
                it->value = *value;
            }
            return FormatSettingsFile(parsed.entries);
        },
        beforeReplace_);
}

}  // namespace morix
