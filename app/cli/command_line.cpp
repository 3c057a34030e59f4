#include "app/cli/command_line.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>

#include "engine/file_info.h"
#include "engine/paths.h"
#include "engine/preview.h"
#include "engine/regex_replace.h"
#include "engine/sorting.h"
#include "engine/text.h"
#include "os/dir_stream.h"

namespace morix::cli {
namespace {

constexpr long kMaxNumber = 99999999;

struct CaseName {
    std::string_view name;
    CaseMode mode;
};
constexpr CaseName kCaseNames[] = {
    {"none", CaseMode::kNoChange},
    {"upper", CaseMode::kAllUpper},
    {"lower", CaseMode::kAllLower},
    {"name-upper", CaseMode::kNameUpper},
    {"name-lower", CaseMode::kNameLower},
    {"ext-upper", CaseMode::kExtensionUpper},
    {"ext-lower", CaseMode::kExtensionLower},
    {"first-upper", CaseMode::kFirstUpper},
};

struct SortName {
    std::string_view name;
    SortKey key;
};
constexpr SortName kSortNames[] = {
    {"name", SortKey::kName},
    {"ext", SortKey::kExtension},
    {"mtime", SortKey::kModifiedTime},
    {"size", SortKey::kSize},
};

struct DateSourceName {
    std::string_view name;
    DateSource source;
};
constexpr DateSourceName kDateSourceNames[] = {
    {"modified", DateSource::kModified},
    {"taken", DateSource::kTaken},
};

// Joins pieces of a message (GCC 12 warns falsely on chains of string "+").
std::string Concat(std::initializer_list<std::string_view> pieces) {
    std::string out;
    for (std::string_view piece : pieces)
        out.append(piece);
    return out;
}

// The options that take a value; "t" and "d" also in their short forms.
bool IsValueOption(std::string_view name) {
    constexpr std::string_view kNames[] = {"template", "t",           "find", "replace",
                                           "ext",      "start",       "step", "case",
                                           "sort",     "date-source", "dir",  "d",
                                           "preset"};
    return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
}

std::optional<long> ParseWhole(std::string_view text) {
    long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

// Absolute, without trailing separators (a trailing "/" would leave the
// item without a file name).
std::u16string Absolute(std::string_view arg, std::u16string_view cwd) {
    std::u16string path = DecodeFileName(arg);
    while (path.size() > 1 && path.back() == u'/')
        path.pop_back();
    if (!path.empty() && path.front() == u'/') return path;
    std::u16string_view rest = path;
    while (rest.starts_with(u"./"))
        rest.remove_prefix(2);
    if (rest == u".") rest = {};
    return rest.empty() ? std::u16string(cwd) : CombinePath(cwd, rest);
}

class Parser {
  public:
    Parser(std::span<const std::string_view> args, std::u16string_view cwd,
           const RenameOptions& base)
        : args_(args), cwd_(cwd) {
        result_.options = base;
    }

    std::variant<CommandLine, CommandLineError> Parse() {
        bool optionsEnded = false;
        for (pos_ = 0; pos_ < args_.size() && !error_; ++pos_) {
            const std::string_view arg = args_[pos_];
            if (arg.empty()) {
                // Made absolute, it would name the current folder.
                Fail("an empty PATH names no file");
            } else if (optionsEnded || arg == "-" || !arg.starts_with('-')) {
                result_.sources.push_back(Source{Absolute(arg, cwd_), false});
            } else if (arg == "--") {
                optionsEnded = true;
            } else if (arg.starts_with("--")) {
                LongOption(arg.substr(2));
            } else {
                ShortOptions(arg.substr(1));
            }
        }
        if (error_) return *error_;
        if (result_.mode == Mode::kPreview || result_.mode == Mode::kRename) {
            if (result_.sources.empty()) {
                return CommandLineError{"no files given: name at least one PATH or --dir FOLDER"};
            }
        }
        if (result_.verbose && result_.mode != Mode::kRename && result_.mode != Mode::kPreview) {
            return CommandLineError{"--verbose goes with --preview or --rename only"};
        }
        if (result_.check && result_.mode != Mode::kPreview) {
            return CommandLineError{"--check goes with --preview only"};
        }
        if (result_.mode == Mode::kRecover && !result_.sources.empty()) {
            return CommandLineError{"--recover takes no files"};
        }
        if ((result_.mode == Mode::kUndo || result_.mode == Mode::kHistory) &&
            !result_.sources.empty()) {
            return CommandLineError{result_.mode == Mode::kUndo ? "--undo takes no files"
                                                                : "--history takes no files"};
        }
        if (result_.mode == Mode::kPreview || result_.mode == Mode::kRename) {
            if (std::optional<CommandLineError> error = CheckRegex(result_.options)) return *error;
        }
        return std::move(result_);
    }

  private:
    static std::optional<CommandLineError> CheckRegex(const RenameOptions& o) {
        if (!o.regex || o.findText.empty()) return std::nullopt;
        auto compiled = RegexReplacer::Compile(o.findText, o.replaceText, o.caseSensitive);
        const RegexError* error = std::get_if<RegexError>(&compiled);
        if (error == nullptr) return std::nullopt;
        const bool find = error->field == RegexError::Field::kFind;
        return CommandLineError{
            Concat({find ? "--find" : "--replace",
                    find ? " is not a valid regular expression: "
                         : " cannot be used with the regular expression: ",
                    error->message, " (at character ", std::to_string(error->offset + 1), ")"})};
    }

    void Fail(std::string message) {
        if (!error_) error_ = CommandLineError{std::move(message)};
    }

    // The value of an option: attached ("--x=v", "-tv") or the next argument.
    std::optional<std::string_view> Value(std::string_view option,
                                          std::optional<std::string_view> attached) {
        if (attached) return attached;
        if (pos_ + 1 >= args_.size()) {
            Fail(Concat({"option '", option, "' needs a value"}));
            return std::nullopt;
        }
        return args_[++pos_];
    }

    void SetMode(Mode mode, std::string_view option) {
        if (result_.mode != Mode::kNone && result_.mode != mode) {
            Fail(Concat({"option '", option, "' cannot be combined with another mode"}));
        }
        result_.mode = mode;
    }

    void Number(std::string_view option, std::string_view text, std::int32_t& field) {
        const std::optional<long> value = ParseWhole(text);
        if (!value || *value < 1 || *value > kMaxNumber) {
            Fail(Concat({"option '", option, "' takes a whole number from 1 to 99999999, not '",
                         text, "'"}));
            return;
        }
        field = static_cast<std::int32_t>(*value);
    }

    void UndoId(std::string_view text) {
        std::uint64_t id = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), id);
        if (ec != std::errc() || end != text.data() + text.size() || text.empty() || id == 0) {
            Fail(Concat(
                {"option '--undo' takes the id of a kept run (see --history), not '", text, "'"}));
            return;
        }
        result_.undoId = id;
    }

    void Case(std::string_view text) {
        if (const std::optional<long> value = ParseWhole(text)) {
            if (*value >= 0 && *value < kCaseModeCount) {
                result_.options.caseMode = static_cast<CaseMode>(*value);
                return;
            }
        }
        for (const CaseName& c : kCaseNames) {
            if (c.name == text) {
                result_.options.caseMode = c.mode;
                return;
            }
        }
        Fail(
            Concat({"option '--case' takes 0 to 7 or none, upper, lower, name-upper, name-lower, "
                    "ext-upper, ext-lower, first-upper, not '",
                    text, "'"}));
    }

    void Sort(std::string_view text) {
        if (text == "none") {
            result_.keepOrder = true;
            return;
        }
        for (const SortName& s : kSortNames) {
            if (s.name == text) {
                result_.options.sortKey = s.key;
                result_.keepOrder = false;
                return;
            }
        }
        Fail(Concat({"option '--sort' takes name, ext, mtime, size or none, not '", text, "'"}));
    }

    void DateSourceOption(std::string_view text) {
        for (const DateSourceName& d : kDateSourceNames) {
            if (d.name == text) {
                result_.options.dateSource = d.source;
                return;
            }
        }
        Fail(Concat({"option '--date-source' takes modified or taken, not '", text, "'"}));
    }

    // Handles an option that takes a value; false when name takes none.
    bool ValueOption(std::string_view name, std::string_view shown,
                     std::optional<std::string_view> attached) {
        RenameOptions& o = result_.options;
        std::u16string* text = nullptr;
        if (name == "template" || name == "t") {
            text = &o.nameTemplate;
        } else if (name == "find") {
            text = &o.findText;
        } else if (name == "replace") {
            text = &o.replaceText;
        } else if (name == "ext") {
            text = &o.newExtension;
            o.changeExtension = true;
        } else if (!IsValueOption(name)) {
            return false;
        }
        const std::optional<std::string_view> value = Value(shown, attached);
        if (!value) return true;
        if (text != nullptr) {
            *text = DecodeFileName(*value);
        } else if (name == "start") {
            Number(shown, *value, o.startNumber);
        } else if (name == "step") {
            Number(shown, *value, o.increment);
        } else if (name == "case") {
            Case(*value);
        } else if (name == "sort") {
            Sort(*value);
        } else if (name == "preset") {
            result_.presetName = DecodeFileName(*value);
        } else if (name == "date-source") {
            DateSourceOption(*value);
        } else {
            result_.sources.push_back(Source{Absolute(*value, cwd_), true});
        }
        return true;
    }

    void LongOption(std::string_view body) {
        std::optional<std::string_view> attached;
        if (const std::size_t eq = body.find('='); eq != std::string_view::npos) {
            attached = body.substr(eq + 1);
            body = body.substr(0, eq);
        }
        const std::string shown = Concat({"--", body});
        if (ValueOption(body, shown, attached)) return;
        if (body == "undo") {
            SetMode(Mode::kUndo, shown);
            if (attached) UndoId(*attached);
            return;
        }
        if (attached) {
            Fail(Concat({"option '", shown, "' takes no value"}));
            return;
        }
        if (body == "preview") {
            SetMode(Mode::kPreview, shown);
        } else if (body == "rename") {
            SetMode(Mode::kRename, shown);
        } else if (body == "recover") {
            SetMode(Mode::kRecover, shown);
        } else if (body == "history") {
            SetMode(Mode::kHistory, shown);
        } else if (body == "help") {
            SetMode(Mode::kHelp, shown);
        } else if (body == "case-sensitive") {
            result_.options.caseSensitive = true;
        } else if (body == "regex") {
            result_.options.regex = true;
        } else if (body == "no-normalize") {
            result_.options.normalizeUnicode = false;
        } else if (body == "descending") {
            result_.options.descending = true;
        } else if (body == "null") {
            result_.nullOutput = true;
        } else if (body == "verbose") {
            result_.verbose = true;
        } else if (body == "check") {
            result_.check = true;
        } else {
            Fail(Concat({"unknown option '", shown, "'"}));
        }
    }

    void ShortOptions(std::string_view letters) {
        for (std::size_t i = 0; i < letters.size() && !error_; ++i) {
            const std::string_view name = letters.substr(i, 1);
            const std::string shown = Concat({"-", name});
            std::optional<std::string_view> attached;
            if (i + 1 < letters.size()) attached = letters.substr(i + 1);
            if (name == "t" || name == "d") {
                ValueOption(name, shown, attached);
                return;
            }
            if (name == "0") {
                result_.nullOutput = true;
            } else if (name == "h") {
                SetMode(Mode::kHelp, shown);
            } else {
                Fail(Concat({"unknown option '", shown, "'"}));
            }
        }
    }

    std::span<const std::string_view> args_;
    std::u16string_view cwd_;
    std::size_t pos_ = 0;
    CommandLine result_;
    std::optional<CommandLineError> error_;
};

}  // namespace

std::variant<CommandLine, CommandLineError> ParseCommandLine(std::span<const std::string_view> args,
                                                             std::u16string_view cwd,
                                                             const RenameOptions& base) {
    return Parser(args, cwd, base).Parse();
}

std::u16string CurrentFolder() {
    std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
    return cwd ? DecodeFileName(cwd.get()) : std::u16string(u"/");
}

bool CheckSources(const CommandLine& commandLine, std::FILE* err) {
    bool allFound = true;
    for (const Source& source : commandLine.sources) {
        const std::string bytes = EncodeFileName(source.path);
        int error = 0;
        if (source.isFolder) {
            error = DirStream(bytes).Error();
        } else if (struct stat st; ::lstat(bytes.c_str(), &st) != 0) {
            error = errno;
        }
        if (error == 0) continue;
        allFound = false;
        std::fprintf(err, "morix: %s '%s': %s\n",
                     source.isFolder ? "cannot read folder" : "cannot find", bytes.c_str(),
                     std::strerror(error));
    }
    return allFound;
}

std::vector<std::uint32_t> CollectRows(CommandLine& commandLine, RenameList& list,
                                       CaptureDateCache& dates, std::FILE* err) {
    for (Source& source : commandLine.sources) {
        if (!source.isFolder) {
            list.AddItem(std::exchange(source.path, {}));
            continue;
        }
        int error = 0;
        if (!list.AddFolder(source.path, &error) && error != 0) {
            std::fprintf(err, "morix: cannot read folder '%s': %s\n",
                         EncodeFileName(source.path).c_str(), std::strerror(error));
        }
    }
    std::vector<Source>().swap(commandLine.sources);
    std::vector<std::uint32_t> rows = IdentityRows(list.Count());
    if (!commandLine.keepOrder) {
        SortRows(list, rows, commandLine.options.sortKey, commandLine.options.descending,
                 commandLine.options.dateSource, &dates);
    }
    return rows;
}

void ReportRegexStopped(const RenameList& list, std::span<const std::uint32_t> rows,
                        const std::vector<std::size_t>& stopped, std::FILE* err) {
    constexpr std::size_t kNamed = 5;
    std::fprintf(err,
                 "morix: the regular expression took too long on %zu name(s) and was stopped; "
                 "they are without the replacement:\n",
                 stopped.size());
    for (std::size_t i = 0; i < stopped.size() && i < kNamed; ++i) {
        std::fprintf(err, "morix:   %s\n",
                     EncodeFileName(list.ItemAt(rows[stopped[i]]).Whole()).c_str());
    }
    if (stopped.size() > kNamed)
        std::fprintf(err, "morix:   and %zu more\n", stopped.size() - kNamed);
}

bool TakesNextArgument(std::string_view arg) {
    if (arg.starts_with("--")) {
        const std::string_view body = arg.substr(2);
        return body.find('=') == std::string_view::npos && IsValueOption(body);
    }
    if (arg.size() < 2 || arg.front() != '-') return false;
    // In a group of short options the first that takes a value takes the
    // rest of the group, or the next argument when nothing follows it.
    const std::string_view letters = arg.substr(1);
    for (std::size_t i = 0; i < letters.size(); ++i) {
        if (letters[i] == 't' || letters[i] == 'd') return i + 1 == letters.size();
    }
    return false;
}

void PrintUsage(std::FILE* out) {
    std::fputs(
        "Usage: morix --preview [OPTIONS] [--] PATH...\n"
        "       morix --rename [OPTIONS] [--] PATH...\n"
        "       morix --recover\n"
        "       morix --undo[=ID] | --history\n"
        "\n"
        "Shows (--preview) or carries out (--rename) the renaming of the given files.\n"
        "--recover puts back the files of rename runs that were cut short (every start\n"
        "of morix does this too) and exits 1 when a file could not be returned.\n"
        "--undo takes back the most recent completed run not yet undone (or run ID),\n"
        "all or nothing: exit 0 done, 1 rolled back, 3 refused (nothing touched),\n"
        "4 nothing to undo. --history lists the last 20 runs kept for undo.\n"
        "\n"
        "  -t, --template TEXT   name template; empty keeps the current names\n"
        "      --start N         first sequence number, 1 to 99999999 (default 1)\n"
        "      --step N          added per row, 1 to 99999999 (default 1)\n"
        "      --ext TEXT        replace every extension by TEXT (empty removes it)\n"
        "      --case MODE       none, upper, lower, name-upper, name-lower,\n"
        "                        ext-upper, ext-lower, first-upper (or 0 to 7)\n"
        "      --find TEXT       text to find in the new names\n"
        "      --replace TEXT    its replacement\n"
        "      --case-sensitive  find matches letter case exactly\n"
        "      --regex           find is a regular expression; replace may use $0-$9,\n"
        "                        ${name} and $$ for a dollar sign\n"
        "      --no-normalize    do not bring names to Unicode NFC\n"
        "      --sort KEY        name, ext, mtime, size, or none to keep the order given\n"
        "      --descending      reverse the sort order\n"
        "      --date-source SRC modified, or taken: the date a photo or video was\n"
        "                        taken, else the modified time, for the date fields\n"
        "                        and the sort by time (default modified)\n"
        "      --preset NAME     start from the options of the saved preset NAME; the\n"
        "                        other options override it\n"
        "  -d, --dir FOLDER      add the files directly inside FOLDER\n"
        "  -0, --null            end output fields with NUL instead of tab and newline\n"
        "      --check           with --preview: exit 3 when a new name is taken or\n"
        "                        impossible, naming each such row on stderr\n"
        "      --verbose         with --preview: add a column with each row's state;\n"
        "                        with --rename: print each renamed file\n"
        "  -h, --help            show this help\n",
        out);
}

}  // namespace morix::cli
