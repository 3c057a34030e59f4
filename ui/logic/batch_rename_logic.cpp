#include "ui/logic/batch_rename_logic.h"

#include "engine/file_info.h"
#include "engine/paths.h"
#include "engine/preview.h"
#include "engine/sorting.h"
#include "engine/text.h"

namespace morix::ui {

bool BatchRenameLogic::AddFile(std::u16string path) {
    if (!list_.AddItem(std::move(path))) return false;
    rows_.Append(static_cast<std::uint32_t>(list_.Count() - 1));
    rows_.Select(rows_.Count() - 1, true);
    return true;
}

bool BatchRenameLogic::AddFolder(std::u16string_view folder) {
    const std::size_t before = list_.Count();
    const bool allAdded = list_.AddFolder(folder);
    for (std::size_t item = before; item < list_.Count(); ++item) {
        rows_.Append(static_cast<std::uint32_t>(item));
        rows_.Select(rows_.Count() - 1, true);
    }
    return allAdded;
}

bool BatchRenameLogic::FinishAdding(std::size_t countBefore, SortAfterAdd sort) {
    if (list_.Count() <= countBefore) return false;
    if (sort == SortAfterAdd::kAlways || countBefore == 0) SortList();
    return true;
}

BadField BatchRenameLogic::GatherOptions(const OptionInputs& in) {
    options_.templatePick = in.templatePick;
    options_.caseMode = static_cast<CaseMode>(in.caseMode);
    options_.sortKey = static_cast<SortKey>(in.sortKey);
    options_.dateSource = static_cast<DateSource>(in.dateSource);
    // A number that fails the check is still kept: the preview goes on with
    // the value as it stands while the user is told about the field.
    const auto readNumber = [](std::optional<std::int32_t> value, std::int32_t& field) {
        field = value.value_or(0);
        return value && *value >= 1 && *value <= kMaxNumber;
    };
    if (!readNumber(in.startNumber, options_.startNumber)) return BadField::kStartNumber;
    if (!readNumber(in.increment, options_.increment)) return BadField::kIncrement;
    options_.nameTemplate = in.nameTemplate;
    options_.newExtension = in.newExtension;
    options_.findText = in.findText;
    options_.replaceText = in.replaceText;
    options_.changeExtension = in.changeExtension;
    options_.caseSensitive = in.caseSensitive;
    options_.regex = in.regex;
    options_.normalizeUnicode = in.normalizeUnicode;
    options_.descending = in.descending;
    return BadField::kNone;
}

std::optional<RegexError> BatchRenameLogic::RegexProblem() const {
    if (!options_.regex || options_.findText.empty()) return std::nullopt;
    auto compiled =
        RegexReplacer::Compile(options_.findText, options_.replaceText, options_.caseSensitive);
    if (auto* error = std::get_if<RegexError>(&compiled)) return std::move(*error);
    return std::nullopt;
}

void BatchRenameLogic::RefreshPreview() {
    ++previewPasses_;
    ComputeNewNames(list_, rows_.Rows(), options_, registry_, names_, &dates_);
    namesUseDatesTaken_ = options_.dateSource == DateSource::kTaken &&
                          NameTemplate(options_.nameTemplate).ReadsFileTime();
    checks_ = CheckPreviewRows(fs_, list_, rows_.Rows(), names_, &listings_);
    counts_ = CountStates(checks_);
}

std::vector<std::size_t> BatchRenameLogic::ProblemRows(std::size_t max) const {
    std::vector<std::size_t> rows;
    for (std::size_t r = 0; r < checks_.size() && rows.size() < max; ++r) {
        if (StopsARun(checks_[r].state)) rows.push_back(r);
    }
    return rows;
}

bool BatchRenameLogic::DateFellBack(std::size_t row) const {
    if (!namesUseDatesTaken_ || row >= rows_.Count()) return false;
    return dates_.HasCaptureDate(list_.ItemAt(rows_.ItemAt(row)).Whole()) == false;
}

void BatchRenameLogic::SortList() {
    std::vector<std::uint32_t> rows = rows_.Rows();
    SortRows(list_, rows, options_.sortKey, options_.descending, options_.dateSource, &dates_);
    rows_.Reorder(std::move(rows));
}

std::u16string BatchRenameLogic::ClipboardText() const {
    std::u16string text;
    for (std::size_t r = 0; r < rows_.Count(); ++r) {
        text.append(NewNameAt(r));
        text.push_back(u'\n');
    }
    return text;
}

void BatchRenameLogic::Restart() {
    rows_.Clear();
    list_.Clear();
    dates_.Clear();
    RefreshPreview();
}

std::u16string BatchRenameLogic::TemplateToken(int pick) {
    static const char16_t* const kTokens[] = {
        u"",
        u"<N>",
        u"<NS>",
        u"<ND>",
        u"<E>",
        u"#",
        u"<z>",
        u"<zKB>",
        u"<P>",
        u"<YYYYMMDD>",
        u"<YYMMDD>",
        u"<YYYY-MM-DD>",
        u"<YY-MM-DD>",
        u"<HHmmss>",
        u"<HH_mm_ss>",
        u"<TYYYYMMDD>",
        u"<TYYMMDD>",
        u"<TYYYY-MM-DD>",
        u"<TYY-MM-DD>",
        u"<THHmmss>",
        u"<THH_mm_ss>",
    };
    if (pick < 0 || pick >= static_cast<int>(std::size(kTokens))) return {};
    return kTokens[pick];
}

std::u16string BatchRenameLogic::NameRangeToken(std::u16string_view start,
                                                std::u16string_view length) {
    if (start.empty() && length.empty()) return u"<N>";
    std::u16string token = u"<N";
    token.append(start);
    token.push_back(u',');
    token.append(length);
    token.push_back(u'>');
    return token;
}

std::u16string BatchRenameLogic::NameForRange() const {
    if (rows_.Count() == 0) return {};
    return std::u16string(RemoveExtension(list_.ItemAt(rows_.ItemAt(0)).name));
}

}  // namespace morix::ui
