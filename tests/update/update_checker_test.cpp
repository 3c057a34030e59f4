// The version check against a real service on 127.0.0.1, the version rules,
// the notice record, the day rule, the prompt and the install ping.
#include "update/update_checker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <map>
#include <mutex>
#include <thread>

#include "memory_settings.h"
#include "support/loopback_http_server.h"
#include "support/temp_dir.h"

namespace morix {
namespace {

using testing::HttpReply;
using testing::LoopbackHttpServer;
using testing::MemorySettings;

const bool kNoProxy = [] {
    ::setenv("no_proxy", "127.0.0.1,localhost,::1", 1);
    ::setenv("NO_PROXY", "127.0.0.1,localhost,::1", 1);
    return true;
}();

// Sets (or with null, removes) an environment variable for one scope.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            had_ = true;
            old_ = old;
        }
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (had_)
            ::setenv(name_.c_str(), old_.c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }

  private:
    std::string name_;
    std::string old_;
    bool had_ = false;
};

class RecordingOwner : public IUpdateOwner {
  public:
    void PostCheckResult(int result) override {
        std::lock_guard<std::mutex> guard(mutex);
        results.push_back(result);
        resultThread = std::this_thread::get_id();
        posted.notify_all();
    }
    bool ConfirmUpdate(const std::u16string& display) override {
        prompts.push_back(display);
        if (onPrompt) onPrompt();
        return answerOk;
    }
    void OpenPage(const std::u16string& url) override { opened.push_back(url); }
    void CloseWindow() override { ++closes; }

    int WaitForResult() {
        std::unique_lock<std::mutex> lock(mutex);
        posted.wait_for(lock, std::chrono::seconds(10), [this] { return !results.empty(); });
        return results.empty() ? -1 : results.back();
    }

    std::mutex mutex;
    std::condition_variable posted;
    std::vector<int> results;
    std::thread::id resultThread;

    bool answerOk = false;
    std::function<void()> onPrompt;
    std::vector<std::u16string> prompts;
    std::vector<std::u16string> opened;
    int closes = 0;
};

// A service that answers every request with the given reply.
struct Service {
    explicit Service(HttpReply reply)
        : server(std::move(reply)), root("TRELVO_VERSION_SERVICE", server.Root().c_str()) {}
    std::size_t Requests() const { return server.Requests().size(); }

    LoopbackHttpServer server;
    ScopedEnv root;
};

// A checker that has fetched and applied one answer.
struct Applied {
    MemorySettings settings;
    RecordingOwner owner;
    CUpdateChecker checker{settings.store, &owner};
    bool fetched = false;
    bool applied = false;

    explicit Applied(const std::u16string& answer) {
        Service service(HttpReply{200, EncodeFileName(answer)});
        checker.SetClock([] { return std::int64_t{1700000000}; });
        fetched = checker.Fetch();
        applied = checker.ApplyAnswer();
    }
};

std::u16string VersionAnswer(const std::u16string& attributes) {
    return u"<?xml version=\"1.0\"?><version " + attributes + u"/>";
}

TEST(CompareVersionsTest, ComponentRules) {
    struct Case {
        const char16_t* a;
        const char16_t* b;
        int expected;
    } cases[] = {
        {u"1.8.0.1", u"1.8.0.0", 1},
        {u"1.8.0.0", u"1.8.0.0", 0},
        {u"1.8", u"1.8.0", -1},
        {u"1.8.0", u"1.8", 1},
        {u"1,8 0.1", u"1.8.0.1", 0},
        {u"1..8", u"1.8", 0},
        {u" .1. ,8,", u"1.8", 0},
        {u"", u"", 0},
        {u"", u"0", -1},
        {u"0", u"", 1},
        {u"1.10", u"1.9", 1},
        {u"2", u"10", -1},
        {u"1.x", u"1.0", 0},
        {u"1.7abc", u"1.7", 0},
        {u"1.-1", u"1.0", -1},
        {u"1.+2", u"1.2", 0},
        {u"99999999999", u"2147483647", 0},
        {u"1.8.0.0", u"1.8.0.0.0", -1},
    };
    for (const Case& c : cases) {
        const std::u16string a = c.a, b = c.b;
        EXPECT_EQ(CompareVersions(c.a, c.b), c.expected)
            << EncodeFileName(a) << " vs " << EncodeFileName(b);
    }
}

TEST(UpdateCheckerTest, OfferAndRestrictionFollowTheAnswer) {
    struct Case {
        const char16_t* current;
        const char16_t* mode;
        bool force;
        bool offered;
    } cases[] = {
        {u"1.8.0.1", u"", false, true},     {u"1.8.0.0", u"", false, false},
        {u"1.8", u"", false, false},        {u"1.8", u"exact", false, true},
        {u"1.7", u"EXACT", false, true},    {u"1.8.0.0", u"exact", false, false},
        {u"9.0", u"skip", false, false},    {u"9.0", u"SKIP", false, false},
        {u"9.0", u"skip", true, true},      {u"", u"", false, false},
        {u"1.9", u"whatever", false, true}, {u"1.7", u"whatever", false, false},
    };
    for (const Case& c : cases) {
        Applied a(VersionAnswer(u"current=\"" + std::u16string(c.current) + u"\" mode=\"" + c.mode +
                                u"\""));
        ASSERT_TRUE(a.applied);
        EXPECT_EQ(a.checker.NeedsUpdate(kProgramVersion, c.force), c.offered)
            << EncodeFileName(c.current) << " " << EncodeFileName(c.mode) << " " << c.force;
    }
    struct Restriction {
        const char16_t* attributes;
        bool restricted;
    } restrictions[] = {
        {u"", false},
        {u"restricted=\"1.8.0.0\"", true},
        {u"restricted=\"1.9\"", true},
        {u"restricted=\"1.7.9.9\"", false},
        {u"restricted=\"1.8\"", false},
    };
    for (const Restriction& r : restrictions) {
        Applied a(VersionAnswer(r.attributes));
        ASSERT_TRUE(a.applied);
        EXPECT_EQ(a.checker.IsRestricted(kProgramVersion), r.restricted)
            << EncodeFileName(r.attributes);
    }
}

TEST(UpdateCheckerTest, ApplyAnswerReadsTheRootAndTheLastToast) {
    GlobalNoticeInfo() = NoticeInfo{};
    Applied a(
        u"<Version display=\"Trelvo 1.9\" url=\"http://example.invalid/get\" current=\"1.9\" "
        u"restricted=\"1.0\" mode=\"exact\" extra=\"x\">"
        u"<toast url=\"http://first/\" sid=\"s1\" nid=\"n1\" time=\"30\" tcol=\"red\"/>"
        u"<!-- a comment -->"
        u"<other url=\"http://other/\" sid=\"o\"/>"
        u"<TOAST url=\"http://second/\" sid=\"s2\" time=\"abc\" bcol=\"#fff\"/>"
        u"</Version>");
    ASSERT_TRUE(a.fetched);
    ASSERT_TRUE(a.applied);
    const UpdateInfo& info = a.checker.Info();
    EXPECT_EQ(info.display, u"Trelvo 1.9");
    EXPECT_EQ(info.url, u"http://example.invalid/get");
    EXPECT_EQ(info.current, u"1.9");
    EXPECT_EQ(info.restricted, u"1.0");
    EXPECT_EQ(info.mode, u"exact");
    const NoticeInfo& notice = GlobalNoticeInfo();
    EXPECT_EQ(notice.url, u"http://second/");
    EXPECT_EQ(notice.sid, u"s2");
    EXPECT_EQ(notice.nid, u"");  // not carried over from the first toast
    EXPECT_EQ(notice.time, 0);
    EXPECT_EQ(notice.tcol, u"");
    EXPECT_EQ(notice.bcol, u"#fff");
    // The check time is recorded and saved.
    EXPECT_EQ(a.checker.LastCheckTime(), 1700000000);
    EXPECT_EQ(a.settings.StoredCheckTime(), 1700000000);

    // An answer without toast leaves the notice; missing attributes are empty.
    Applied b(u"<version current=\"2\"><toastx sid=\"no\"/></version>");
    ASSERT_TRUE(b.applied);
    EXPECT_EQ(b.checker.Info().display, u"");
    EXPECT_EQ(GlobalNoticeInfo().sid, u"s2");

    Applied c(u"<version><toast sid=\"t\" time=\" 15s\"/></version>");
    ASSERT_TRUE(c.applied);
    EXPECT_EQ(GlobalNoticeInfo().time, 15);
    EXPECT_EQ(GlobalNoticeInfo().url, u"");
    GlobalNoticeInfo() = NoticeInfo{};
}

TEST(UpdateCheckerTest, UnusableAnswersChangeNothing) {
    GlobalNoticeInfo() = NoticeInfo{};
    for (const char16_t* answer :
         {u"<versions current=\"9\"><toast url=\"http://x/\" sid=\"s\"/></versions>",
          u"<version current=\"9\"><toast url=\"http://x/\" sid=\"s\"></version>",
          u"not xml at all", u""}) {
        Applied a(answer);
        EXPECT_TRUE(a.fetched);
        EXPECT_FALSE(a.applied) << EncodeFileName(answer);
        EXPECT_EQ(a.checker.Info().current, u"");
        EXPECT_EQ(a.checker.LastCheckTime(), 0);
        EXPECT_TRUE(a.settings.backend->values.empty());
        EXPECT_EQ(GlobalNoticeInfo().sid, u"");
    }
}

TEST(UpdateCheckerTest, TheRequestCarriesVersionAndLanguages) {
    ScopedEnv all("LC_ALL", "de_DE.UTF-8");
    Service service(HttpReply{200, "<version/>"});
    MemorySettings settings;
    CUpdateChecker checker(settings.store);
    checker.SetLanguageCode(u"ko");
    ASSERT_TRUE(checker.Fetch());
    ASSERT_EQ(service.Requests(), 1u);
    const std::string head = service.server.Requests()[0];
    EXPECT_EQ(head.rfind("GET /morix/version?version=1.8.0.0&lang=ko&syslang=de HTTP/1.1\r\n", 0),
              0u)
        << head;
}

TEST(UpdateCheckerTest, AFailedRequestKeepsTheEarlierAnswer) {
    MemorySettings settings;
    CUpdateChecker checker(settings.store);
    HttpLimits limits;
    limits.stallTimeoutSeconds = 1;
    limits.maxAnswerBytes = 4096;
    checker.SetHttpLimits(limits);
    {
        Service service(HttpReply{200, "<version current=\"2\"/>"});
        ASSERT_TRUE(checker.Fetch());
    }
    const std::u16string kept = checker.AnswerText();
    EXPECT_EQ(kept, u"<version current=\"2\"/>");
    const HttpReply failures[] = {
        HttpReply{404, "<version current=\"3\"/>"},
        HttpReply{200, "<version current=\"3\"/><!-- padding -->", HttpReply::Kind::kCloseEarly},
        HttpReply{200, "", HttpReply::Kind::kEndless},
    };
    for (const HttpReply& reply : failures) {
        Service service(reply);
        EXPECT_FALSE(checker.Fetch()) << reply.status;
        EXPECT_EQ(service.Requests(), 1u);
        EXPECT_EQ(checker.AnswerText(), kept);
        EXPECT_EQ(checker.Check(true), CUpdateChecker::kFailed);
    }
    // No service at all.
    ScopedEnv root("TRELVO_VERSION_SERVICE", "http://127.0.0.1:1");
    EXPECT_EQ(checker.Check(true), CUpdateChecker::kFailed);
    EXPECT_EQ(checker.AnswerText(), kept);
}

std::int64_t Utc(int year, int month, int day, int hour, int minute) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    return static_cast<std::int64_t>(::timegm(&t));
}

TEST(UpdateCheckerTest, OneCheckPerLocalCalendarDay) {
    // 14:59 and 15:01 UTC lie on one day in UTC, but on two in Seoul (UTC+9):
    // 23:59 and 00:01 the next day.
    const std::int64_t beforeMidnightSeoul = Utc(2026, 3, 9, 14, 59);
    const std::int64_t afterMidnightSeoul = Utc(2026, 3, 9, 15, 1);
    const std::int64_t earlySeoul = Utc(2026, 3, 9, 15, 1);   // 00:01 on the 10th
    const std::int64_t lateSeoul = Utc(2026, 3, 10, 14, 58);  // 23:58 on the 10th
    struct Case {
        const char* zone;
        std::int64_t last;
        std::int64_t now;
        int expected;
    } cases[] = {
        {"Asia/Seoul", beforeMidnightSeoul, afterMidnightSeoul, CUpdateChecker::kAnswered},
        {"UTC", beforeMidnightSeoul, afterMidnightSeoul, CUpdateChecker::kSkipped},
        {"Asia/Seoul", earlySeoul, lateSeoul, CUpdateChecker::kSkipped},
        {"UTC", earlySeoul, lateSeoul, CUpdateChecker::kAnswered},
        {"UTC", 0, afterMidnightSeoul, CUpdateChecker::kAnswered},
        {"UTC", INT64_MAX, afterMidnightSeoul, CUpdateChecker::kAnswered},
    };
    for (const Case& c : cases) {
        testing::ScopedTimeZone zone(c.zone);
        Service service(HttpReply{200, "<version/>"});
        MemorySettings settings;
        settings.backend->values["UpdateCheckTime"] = static_cast<std::uint64_t>(c.last);
        RecordingOwner owner;
        CUpdateChecker checker(settings.store, &owner);
        const std::int64_t now = c.now;
        checker.SetClock([now] { return now; });
        ASSERT_TRUE(checker.Start());
        EXPECT_EQ(owner.WaitForResult(), c.expected) << c.zone << " " << c.last;
        EXPECT_NE(owner.resultThread, std::this_thread::get_id());
        EXPECT_EQ(service.Requests(), c.expected == CUpdateChecker::kSkipped ? 0u : 1u);
        ASSERT_TRUE(checker.Join(5000));
        // Forcing ignores the day.
        EXPECT_EQ(checker.Check(true), CUpdateChecker::kAnswered);
    }
}

TEST(UpdateCheckerTest, WithoutAnOwnerTheThreadDoesNothing) {
    Service service(HttpReply{200, "<version/>"});
    MemorySettings settings;
    CUpdateChecker checker(settings.store);
    ASSERT_TRUE(checker.Start());
    ASSERT_TRUE(checker.Join(5000));
    EXPECT_EQ(service.Requests(), 0u);
}

TEST(UpdateCheckerTest, DestroyingTheCheckerDoesNotWaitForAStalledService) {
    Service service(HttpReply{200, "", HttpReply::Kind::kStall});
    MemorySettings settings;
    RecordingOwner owner;
    auto start = std::chrono::steady_clock::now();
    {
        CUpdateChecker checker(settings.store, &owner);
        ASSERT_TRUE(checker.Start());
        while (service.Requests() == 0 &&
               std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(service.Requests(), 1u);
        start = std::chrono::steady_clock::now();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));  // far short of the stall
    EXPECT_EQ(owner.results, std::vector<int>{CUpdateChecker::kFailed});
}

TEST(UpdateCheckerTest, PromptOpensOnlyWebPagesAndEndsRestrictedVersions) {
    struct Case {
        const char16_t* attributes;
        bool ok;
        std::vector<std::u16string> opened;
        int closes;
        int deletes;
    } cases[] = {
        {u"display=\"New!\" url=\"https://example.invalid/dl\"",
         true,
         {u"https://example.invalid/dl"},
         0,
         0},
        {u"display=\"New!\" url=\"file:///etc/passwd\"", true, {}, 0, 0},
        {u"display=\"New!\" url=\"/usr/bin/xterm\"", true, {}, 0, 0},
        {u"display=\"New!\" url=\"http://\"", true, {}, 0, 0},
        {u"display=\"New!\" url=\"http://x/\" restricted=\"1.8.0.0\"", false, {}, 1, 1},
        {u"display=\"New!\" url=\"http://x/\" restricted=\"1.8.0.0\"", true, {u"http://x/"}, 0, 0},
        {u"display=\"New!\" url=\"http://x/\" restricted=\"1.7.9.9\"", false, {}, 0, 0},
    };
    for (const Case& c : cases) {
        Applied a(VersionAnswer(c.attributes));
        ASSERT_TRUE(a.applied);
        ASSERT_EQ(a.settings.StoredCheckTime(), 1700000000);
        a.owner.answerOk = c.ok;
        a.checker.PromptUpdate();
        EXPECT_EQ(a.owner.prompts, std::vector<std::u16string>{u"New!"});
        EXPECT_EQ(a.owner.opened, c.opened) << EncodeFileName(c.attributes);
        EXPECT_EQ(a.owner.closes, c.closes);
        EXPECT_EQ(a.settings.backend->removes, c.deletes);
        EXPECT_EQ(a.settings.StoredCheckTime(), c.deletes ? -1 : 1700000000);
    }
}

TEST(UpdateCheckerTest, PromptIsNotReentered) {
    Applied a(VersionAnswer(u"display=\"d\" url=\"http://x/\""));
    ASSERT_TRUE(a.applied);
    a.owner.answerOk = true;
    a.owner.onPrompt = [&] { a.checker.PromptUpdate(); };  // as a nested event loop could
    a.checker.PromptUpdate();
    EXPECT_EQ(a.owner.prompts.size(), 1u);
    EXPECT_EQ(a.owner.opened.size(), 1u);
    a.owner.onPrompt = nullptr;
    a.checker.PromptUpdate();  // the busy flag was cleared
    EXPECT_EQ(a.owner.prompts.size(), 2u);
}

TEST(UpdateCheckerTest, InstallPingReportsTheStatus) {
    ScopedEnv all("LC_ALL", "ko_KR.UTF-8");
    ScopedEnv noList("LANGUAGE", nullptr);
    {
        Service service(HttpReply{200, ""});
        EXPECT_TRUE(SendInstallPing(u"new", u"abc"));
        ASSERT_EQ(service.Requests(), 1u);
        const std::string head = service.server.Requests()[0];
        EXPECT_EQ(
            head.rfind(
                "GET /morix/install?version=1.8.0.0&type=new&add=abc&lang=ko&syslang=ko HTTP/1.1",
                0),
            0u)
            << head;
    }
    {
        Service service(HttpReply{404, ""});
        EXPECT_FALSE(SendInstallPing(u"update", u""));
        EXPECT_EQ(service.Requests(), 1u);
    }
}

TEST(UpdateCheckerTest, LanguagesAndServiceRootComeFromTheEnvironment) {
    struct Case {
        const char* all;
        const char* messages;
        const char* lang;
        const char16_t* ui;
        const char16_t* system;
    } cases[] = {
        {"ko_KR.UTF-8", nullptr, nullptr, u"ko", u"ko"},
        {nullptr, "ko_KR.UTF-8", "de_DE.UTF-8", u"ko", u"ko"},
        {nullptr, nullptr, "de_DE.UTF-8", u"en", u"de"},
        {"", nullptr, "fil_PH", u"en", u"fil"},
        {"C", nullptr, "ko_KR", u"en", u""},
        {"POSIX", nullptr, nullptr, u"en", u""},
        {nullptr, nullptr, nullptr, u"en", u""},
        {"k1_KR", nullptr, nullptr, u"en", u""},
        {"EN@latin", nullptr, nullptr, u"en", u"en"},
    };
    ScopedEnv noList("LANGUAGE", nullptr);
    for (const Case& c : cases) {
        ScopedEnv all("LC_ALL", c.all);
        ScopedEnv messages("LC_MESSAGES", c.messages);
        ScopedEnv lang("LANG", c.lang);
        EXPECT_EQ(UiLanguageCode(), c.ui) << (c.all ? c.all : "-");
        EXPECT_EQ(SystemLanguageCode(), c.system) << (c.all ? c.all : "-");
    }
    // LANGUAGE refines the user interface's language as it does the window's
    // (but not the locale's own language, nor the C locale).
    struct ListCase {
        const char* lang;
        const char* list;
        const char16_t* ui;
    } lists[] = {
        {"en_US.UTF-8", "ko", u"ko"},    {"ko_KR.UTF-8", "en", u"en"},
        {"en_US.UTF-8", "de:ko", u"en"}, {"en_US.UTF-8", ":ko", u"en"},
        {"C.UTF-8", "ko_KR", u"ko"},     {"C", "ko", u"en"},
        {"POSIX", "ko", u"en"},          {nullptr, "ko", u"en"},
        {"de_DE.UTF-8", "kor", u"ko"},
    };
    for (const ListCase& c : lists) {
        ScopedEnv all("LC_ALL", nullptr);
        ScopedEnv messages("LC_MESSAGES", nullptr);
        ScopedEnv lang("LANG", c.lang);
        ScopedEnv list("LANGUAGE", c.list);
        EXPECT_EQ(UiLanguageCode(), c.ui) << (c.lang ? c.lang : "-") << " " << c.list;
    }
    {
        ScopedEnv lang("LANG", "en_US.UTF-8");
        ScopedEnv list("LANGUAGE", "ko");
        EXPECT_EQ(SystemLanguageCode(), u"en");
    }
    {
        ScopedEnv root("TRELVO_VERSION_SERVICE", "http://127.0.0.1:9000//");
        EXPECT_EQ(VersionServiceRoot(), u"http://127.0.0.1:9000");
    }
    ScopedEnv unset("TRELVO_VERSION_SERVICE", nullptr);
    EXPECT_TRUE(IsWebAddress(VersionServiceRoot())) << EncodeFileName(VersionServiceRoot());
    ScopedEnv empty("TRELVO_VERSION_SERVICE", "");
    EXPECT_TRUE(IsWebAddress(VersionServiceRoot()));
}

}  // namespace
}  // namespace morix
