#include "update/update_checker.h"

#include <climits>
#include <cstdlib>
#include <vector>

#include "engine/text.h"
#include "update/process_launch.h"
#include "update/xml_reader.h"

#ifndef MORIX_VERSION_SERVICE
#define MORIX_VERSION_SERVICE "http://127.0.0.1:8080"
#endif

namespace morix {

namespace {

constexpr std::uint32_t kVersionRequestFlags = kHttpFlagReload | kHttpFlagNoCacheWrite;

// Decimal text as a 32-bit number: leading white space and a sign are taken,
// the digits end at the first other unit, no digits give 0, and values out
// of range stop at the limits.
std::int32_t DecimalValue(std::u16string_view s) {
    std::size_t i = 0;
    while (i < s.size() && IsSpaceChar(s[i]))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
        negative = s[i] == u'-';
        ++i;
    }
    long long value = 0;
    for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i) {
        value = value * 10 + (s[i] - u'0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    return static_cast<std::int32_t>(value);
}

std::vector<std::u16string_view> VersionComponents(std::u16string_view v) {
    std::vector<std::u16string_view> parts;
    std::size_t i = 0;
    const auto isDelimiter = [](char16_t c) { return c == u'.' || c == u',' || c == u' '; };
    while (i < v.size()) {
        while (i < v.size() && isDelimiter(v[i]))
            ++i;
        const std::size_t start = i;
        while (i < v.size() && !isDelimiter(v[i]))
            ++i;
        if (i > start) parts.push_back(v.substr(start, i - start));
    }
    return parts;
}

std::u16string Attribute(const XmlNode& node, std::u16string_view name) {
    const std::u16string* value = node.GetAttribute(name);
    return value ? *value : std::u16string();
}

bool SameLocalDay(std::int64_t a, std::int64_t b) {
    const auto ta = static_cast<std::time_t>(a);
    const auto tb = static_cast<std::time_t>(b);
    std::tm la{}, lb{};
    if (::localtime_r(&ta, &la) == nullptr || ::localtime_r(&tb, &lb) == nullptr) return false;
    return la.tm_year == lb.tm_year && la.tm_mon == lb.tm_mon && la.tm_mday == lb.tm_mday;
}

// The locale that decides the messages' language: LC_ALL, else LC_MESSAGES,
// else LANG.
std::string MessagesLocale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != 0) return value;
    }
    return {};
}

// The language part of a locale name ("ko_KR.UTF-8" gives "ko"); empty when
// it names none.
std::string LanguageOf(std::string_view locale) {
    std::string language(locale.substr(0, locale.find_first_of("_.@")));
    // An ISO 639 code has two or three letters; "C" and "POSIX" are none.
    if (language.size() < 2 || language.size() > 3) return {};
    for (char& c : language) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (c < 'a' || c > 'z') return {};
    }
    return language;
}

}  // namespace

NoticeInfo& GlobalNoticeInfo() {
    static NoticeInfo notice;
    return notice;
}

int CompareVersions(std::u16string_view a, std::u16string_view b) {
    const auto pa = VersionComponents(a);
    const auto pb = VersionComponents(b);
    const std::size_t n = std::max(pa.size(), pb.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (i >= pa.size()) return -1;
        if (i >= pb.size()) return 1;
        const std::int32_t va = DecimalValue(pa[i]);
        const std::int32_t vb = DecimalValue(pb[i]);
        if (va < vb) return -1;
        if (va > vb) return 1;
    }
    return 0;
}

std::u16string UiLanguageCode() {
    // As Qt chooses the user interface's locale: the first entry of LANGUAGE
    // refines any locale but C and POSIX.
    std::string locale = MessagesLocale();
    if (!locale.empty() && locale != "C" && locale != "POSIX") {
        const char* list = std::getenv("LANGUAGE");
        const std::string_view first =
            list != nullptr ? std::string_view(list).substr(0, std::string_view(list).find(':'))
                            : std::string_view();
        if (!first.empty()) locale = first;
    }
    const std::string language = LanguageOf(locale);
    return language == "ko" || language == "kor" ? u"ko" : u"en";
}

std::u16string SystemLanguageCode() {
    return AsciiToU16(LanguageOf(MessagesLocale()));
}

std::u16string VersionServiceRoot() {
    const char* env = std::getenv("TRELVO_VERSION_SERVICE");
    std::u16string root = DecodeFileName(env != nullptr && *env != 0 ? env : MORIX_VERSION_SERVICE);
    while (!root.empty() && root.back() == u'/')
        root.pop_back();
    return root;
}

CUpdateChecker::CUpdateChecker(SettingsStore& settings, IUpdateOwner* owner)
    : settings_(settings), owner_(owner) {
    // The first opener of the shared session names the agent.
    GetSharedInternet(kProductName);
    lastCheck_ = static_cast<std::int64_t>(settings_.GetQword(kSettingUpdateCheckTime, 0));
    languageCode_ = UiLanguageCode();
}

CUpdateChecker::~CUpdateChecker() {
    RequestStop();
    Join();
}

void CUpdateChecker::SetLanguageCode(std::u16string code) {
    JAutoLock guard(lock_);
    languageCode_ = std::move(code);
}

void CUpdateChecker::SetHttpLimits(const HttpLimits& limits) {
    JAutoLock guard(lock_);
    limits_ = limits;
}

std::u16string CUpdateChecker::AnswerText() {
    JAutoLock guard(lock_);
    return answer_;
}

std::int64_t CUpdateChecker::LastCheckTime() {
    JAutoLock guard(lock_);
    return lastCheck_;
}

std::int64_t CUpdateChecker::Now() const {
    return clock_ ? clock_() : static_cast<std::int64_t>(std::time(nullptr));
}

void CUpdateChecker::Run() {
    IUpdateOwner* owner = owner_;
    if (owner == nullptr) return;
    owner->PostCheckResult(Check(false));
}

int CUpdateChecker::Check(bool force) {
    const std::int64_t now = Now();
    if (!force && SameLocalDay(now, LastCheckTime())) return kSkipped;
    // The lock is not held over the network wait, so the window's thread
    // never waits for the service.
    return Fetch() ? kAnswered : kFailed;
}

bool CUpdateChecker::Fetch() {
    std::u16string url;
    HttpLimits limits;
    {
        JAutoLock guard(lock_);
        url = VersionServiceRoot() + u"/morix/version?version=" + kProgramVersion + u"&lang=" +
              languageCode_ + u"&syslang=" + SystemLanguageCode();
        limits = limits_;
    }
    HttpClient client(nullptr, limits);
    if (!client.OpenRequest(u"GET", url, kVersionRequestFlags)) return false;
    if (!client.SendRequest(nullptr, -1, nullptr, 0)) return false;
    std::uint32_t status = 0;
    if (!client.QueryStatusCode(status) || status != 200) return false;
    std::u16string text = client.ReadText(kCodePageUtf8, -1);
    // A cut answer (time-out, size cap, connection lost) is no answer.
    if (!client.BodyComplete()) return false;
    JAutoLock guard(lock_);
    answer_ = std::move(text);
    return true;
}

bool CUpdateChecker::ApplyAnswer() {
    const std::u16string text = AnswerText();
    XmlNode root;
    if (LoadElement(root, text.c_str()) == nullptr || !EqualsNoCase(root.name, u"version"))
        return false;

    info_.display = Attribute(root, u"display");
    info_.current = Attribute(root, u"current");
    info_.restricted = Attribute(root, u"restricted");
    info_.url = Attribute(root, u"url");
    info_.mode = Attribute(root, u"mode");

    for (std::size_t i = 0; i < root.ChildCount(); ++i) {
        const XmlNode& child = *root.GetChildAt(i);
        if (child.type != XmlNodeType::kElement || !EqualsNoCase(child.name, u"toast")) continue;
        NoticeInfo& notice = GlobalNoticeInfo();
        notice.url = Attribute(child, u"url");
        notice.sid = Attribute(child, u"sid");
        notice.nid = Attribute(child, u"nid");
        notice.time = DecimalValue(Attribute(child, u"time"));
        notice.tcol = Attribute(child, u"tcol");
        notice.bcol = Attribute(child, u"bcol");
    }

    const std::int64_t now = Now();
    {
        JAutoLock guard(lock_);
        lastCheck_ = now;
    }
    settings_.SetQword(kSettingUpdateCheckTime, static_cast<std::uint64_t>(now), 0);
    return true;
}

bool CUpdateChecker::NeedsUpdate(std::u16string_view version, bool force) const {
    if (!force && EqualsNoCase(info_.mode, u"skip")) return false;
    const int c = CompareVersions(info_.current, version);
    if (EqualsNoCase(info_.mode, u"exact")) return c != 0;
    return c > 0;
}

bool CUpdateChecker::IsRestricted(std::u16string_view version) const {
    return !info_.restricted.empty() && CompareVersions(info_.restricted, version) >= 0;
}

void CUpdateChecker::PromptUpdate() {
    if (promptBusy_ || owner_ == nullptr) return;
    promptBusy_ = true;
    if (owner_->ConfirmUpdate(info_.display)) {
        // The answer comes over plain HTTP: anything but a web page could be
        // a local program or file planted on the way.
        if (IsWebAddress(info_.url)) owner_->OpenPage(info_.url);
    } else if (IsRestricted(kProgramVersion)) {
        settings_.DeleteSetting(kSettingUpdateCheckTime);
        owner_->CloseWindow();
    }
    promptBusy_ = false;
}

bool SendInstallPing(std::u16string_view type, std::u16string_view add, const HttpLimits& limits) {
    const std::u16string url = VersionServiceRoot() + u"/morix/install?version=" + kProgramVersion +
                               u"&type=" + std::u16string(type) + u"&add=" + std::u16string(add) +
                               u"&lang=" + UiLanguageCode() + u"&syslang=" + SystemLanguageCode();
    HttpClient client(nullptr, limits);
    std::uint32_t status = 0;
    return client.OpenRequest(u"GET", url, kVersionRequestFlags) &&
           client.SendRequest(nullptr, -1, nullptr, 0) && client.QueryStatusCode(status) &&
           status == 200;
}

bool LaunchNotice(const NoticeInfo& notice, std::u16string_view title, SettingsStore& settings,
                  std::u16string_view programFolder) {
    if (notice.url.empty() || notice.sid.empty()) return false;
    // The notice arrives over plain HTTP; only a web page may be shown.
    if (!IsWebAddress(notice.url)) return false;
    std::u16string path(programFolder);
    AppendPath(path, kNoticeProgramName);
    if (!IsFile(path)) return false;
    if (settings.GetDword(kSettingAdSupport, 1) == 0) return false;

    std::vector<std::u16string> argv = {path,  u"/T",     std::u16string(title), u"/A", notice.url,
                                        u"/S", notice.sid};
    if (!notice.nid.empty()) {
        argv.push_back(u"/N");
        argv.push_back(notice.nid);
    }
    if (notice.time > 0) {
        argv.push_back(u"/O");
        argv.push_back(AsciiToU16(std::to_string(notice.time)));
    }
    if (!notice.tcol.empty()) {
        argv.push_back(u"/F");
        argv.push_back(notice.tcol);
    }
    if (!notice.bcol.empty()) {
        argv.push_back(u"/B");
        argv.push_back(notice.bcol);
    }
    const std::u16string folder(programFolder);
    if (IsProtectedModeUrl(notice.url)) {
        SetBrowserEmulation(kNoticeProgramName);
        return LaunchProcessAtMediumIntegrity(argv, false, folder);
    }
    return LaunchProcess(argv, false, folder);
}

bool LaunchNotice(const NoticeInfo& notice, std::u16string_view title) {
    return LaunchNotice(notice, title, Settings(), GetHelperFolder());
}

bool SetBrowserEmulation(std::u16string_view) {
    return false;
}

}  // namespace morix
