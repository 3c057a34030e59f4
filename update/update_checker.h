// The version check: once per start and at most once per calendar day the
// program asks the version service whether a newer version exists, offers its
// page, may end an outdated ("restricted") version, and keeps the notice that
// the popup notifier shows once the main window has closed. Also the install
// ping of the installer commands and the notice launch.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>

#include "base/settings_store.h"
#include "os/web_address.h"
#include "thread/lockable.h"
#include "thread/thread.h"
#include "update/http_client.h"

namespace morix {

// The running version: sent to the service and compared with its answer.
inline constexpr char16_t kProgramVersion[] = u"1.8.0.0";
inline constexpr char16_t kProductName[] = u"Trelvo Renamer";
inline constexpr char16_t kNoticeTitle[] = u"Ad by Trelvo Renamer";
// The popup notifier, beside the program.
inline constexpr char16_t kNoticeProgramName[] = u"tosk";

// What the check needs of the main window.
class IUpdateOwner {
  public:
    // Called on the checker's thread with the result of Check; the window
    // hands it over to its own thread.
    virtual void PostCheckResult(int result) = 0;
    // The modal update prompt (the new version's display text, OK and
    // Cancel); true for OK. display comes from the network: it must be shown
    // as plain text, never as markup.
    virtual bool ConfirmUpdate(const std::u16string& display) = 0;
    // Opens an http or https page in the user's browser.
    virtual void OpenPage(const std::u16string& url) = 0;
    // Asks the main window to close, which ends the program.
    virtual void CloseWindow() = 0;

  protected:
    ~IUpdateOwner() = default;
};

struct UpdateInfo {
    std::u16string display;
    std::u16string url;
    std::u16string current;
    std::u16string restricted;
    std::u16string mode;
};

// The last notice of the last answer.
struct NoticeInfo {
    std::u16string url;
    std::u16string sid;
    std::u16string nid;
    std::int32_t time = 0;
    std::u16string tcol;
    std::u16string bcol;
};

// The process-wide notice record, read once after the main window closed.
NoticeInfo& GlobalNoticeInfo();

// -1, 0 or 1. Components are split at ".", "," and " " (runs count as one)
// and compared as decimal integers; a version with fewer components is the
// older one ("1.8" < "1.8.0").
int CompareVersions(std::u16string_view a, std::u16string_view b);

// "ko" when the user's interface language is Korean, else "en": the one
// choice of the window's texts, its help page and the version check.
std::u16string UiLanguageCode();
// The ISO 639 code of the user's locale ("ko" for ko_KR.UTF-8); empty when
// the locale names none (C, POSIX, unset).
std::u16string SystemLanguageCode();

// Scheme, host and port of the version service: $TRELVO_VERSION_SERVICE
// when set and not empty, else the address the program was built with.
std::u16string VersionServiceRoot();

class CUpdateChecker : public JThread {
  public:
    // Results of Check.
    static constexpr int kSkipped = 0;  // already checked today
    static constexpr int kFailed = 1;
    static constexpr int kAnswered = 2;

    // Reads and writes "UpdateCheckTime" in settings. owner may be set later,
    // before the thread is started.
    explicit CUpdateChecker(SettingsStore& settings, IUpdateOwner* owner = nullptr);
    ~CUpdateChecker() override;

    void SetOwner(IUpdateOwner* owner) { owner_ = owner; }
    void SetLanguageCode(std::u16string code);
    // Bounds of the version request.
    void SetHttpLimits(const HttpLimits& limits);
    // The source of the current time in seconds since 1970 (for tests).
    void SetClock(std::function<std::int64_t()> clock) { clock_ = std::move(clock); }

    // The thread body: with an owner, Check(false) and hand its result over.
    void Run() override;

    // Asks the service unless a check already succeeded today (local date)
    // and force is false.
    int Check(bool force);
    // One version request; on success keeps the answer text.
    bool Fetch();
    // Reads the kept answer into the update and notice records and records
    // the time of this check. False (nothing changes) for an answer that does
    // not parse or whose root is not "version".
    bool ApplyAnswer();

    bool NeedsUpdate(std::u16string_view version, bool force) const;
    bool IsRestricted(std::u16string_view version) const;
    // The prompt: OK opens the page; Cancel on a restricted version forgets
    // the check time and closes the main window. Not re-entered while open.
    void PromptUpdate();

    const UpdateInfo& Info() const { return info_; }
    std::u16string AnswerText();
    std::int64_t LastCheckTime();

  private:
    std::int64_t Now() const;

    JCriticalSection lock_;  // answer_, lastCheck_, languageCode_, limits_
    std::int64_t lastCheck_ = 0;
    std::u16string answer_;
    std::u16string languageCode_;
    HttpLimits limits_;

    UpdateInfo info_;
    SettingsStore& settings_;
    IUpdateOwner* owner_;
    bool promptBusy_ = false;
    std::function<std::int64_t()> clock_;
};

// Tells the service about an installation (type "new", "update" or
// "refresh"; add: the rest of the installer switch). True on status 200.
bool SendInstallPing(std::u16string_view type, std::u16string_view add,
                     const HttpLimits& limits = {});

// Starts the notifier (kNoticeProgramName in programFolder) for the notice,
// without waiting: "/T" title "/A" url "/S" sid, then "/N" nid, "/O" time,
// "/F" tcol and "/B" bcol where given. False - and nothing starts - when url
// or sid is empty, url is not an http or https address, the notifier is not
// there, setting "AdSupport" is 0, or the start fails.
bool LaunchNotice(const NoticeInfo& notice, std::u16string_view title, SettingsStore& settings,
                  std::u16string_view programFolder);
// The same with the program's settings and its helper folder.
bool LaunchNotice(const NoticeInfo& notice, std::u16string_view title);

// The popup's web view needs no registration here: always false.
bool SetBrowserEmulation(std::u16string_view exeName);

}  // namespace morix
