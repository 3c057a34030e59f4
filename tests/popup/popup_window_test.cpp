// The real tosk under a private X server, with notice pages from a loopback
// web server: what is shown, where and when, what ends it, and what the
// page's script can do through window.external.
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "popup/instance_channel.h"
#include "popup_test_support.h"
#include "support/scoped_env.h"

#if defined(__SANITIZE_ADDRESS__)
#define TOSK_SANITIZED_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOSK_SANITIZED_BUILD 1
#endif
#endif

namespace tosk::testing {
namespace {

using namespace std::chrono_literals;
using morix::testing::ScopedEnv;

constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 800;
const std::string kTitle = "Ad by Trelvo Renamer";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Reports reach the test as requests for /report?key=value.
const std::string kReportScript =
    "<script>function report(k, v) {"
    "  fetch('/report?' + k + '=' + encodeURIComponent(String(v)), {cache: 'no-store'});"
    "}</script>";

// A 300 x 250 notice: green with a red square at (20, 20), and a frame whose page is missing.
std::string NoticePage(const std::string& script = {}, const std::string& extraBody = {}) {
    return "<!DOCTYPE html><html><head><title>" + kTitle +
           "</title><style>html, body {margin: 0; background: #ffffff; overflow: hidden}"
           "#notice {position: relative; width: 300px; height: 250px; background: #00aa00}"
           "#red {position: absolute; left: 20px; top: 20px; width: 100px; height: 100px;"
           "      background: #ff0000}</style>" +
           kReportScript + "</head><body><div id=\"notice\"><div id=\"red\"></div></div>" +
           "<iframe src=\"/missing-frame\" style=\"display: none\"></iframe>" + extraBody +
           "<script>" + script + "</script></body></html>";
}

class PopupTest : public ::testing::Test {
  protected:
    void SetUp() override {
#ifdef TOSK_SANITIZED_BUILD
        GTEST_SKIP() << "Chromium inside Qt WebEngine trips AddressSanitizer on its own code "
                        "(new/delete mismatch at shutdown); the popup's window tests run in the "
                        "normal build only";
#endif
        char folder[] = "/tmp/tosk-run-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        runtime_ = folder;
        ::setenv("XDG_RUNTIME_DIR", folder, 1);
        log_ = runtime_ + "/tosk.log";
    }

    void TearDown() override {
        for (pid_t pid : children_) {
            if (!WaitForExit(pid, 0ms)) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
        }
        if (!runtime_.empty()) std::filesystem::remove_all(runtime_);
    }

    pid_t StartTosk(std::vector<std::string> args) {
        args.insert(args.begin(), TOSK_BINARY);
        const pid_t pid = StartProcess(args, log_);
        children_.push_back(pid);
        return pid;
    }

    std::vector<std::string> NoticeArgs(const std::string& url, const std::string& sid = "notice") {
        return {"/T", kTitle, "/A", url, "/S", sid, "/O", "10"};
    }

    // Waits for the titled window to be mapped; fails when the program ends first.
    std::optional<std::string> WaitVisible(pid_t pid, std::chrono::milliseconds timeout,
                                           Clock::time_point* when = nullptr) {
        const auto end = Clock::now() + timeout;
        while (Clock::now() < end) {
            const std::vector<std::string> ids = FindWindows(kTitle, true);
            if (!ids.empty()) {
                if (when) *when = Clock::now();
                return ids.front();
            }
            if (::kill(pid, 0) != 0) break;
            std::this_thread::sleep_for(50ms);
        }
        return std::nullopt;
    }

    // Waits for the program to end, watching that it never shows a window.
    std::optional<int> WaitExitUnseen(pid_t pid, std::chrono::milliseconds timeout,
                                      bool* everVisible) {
        const auto end = Clock::now() + timeout;
        *everVisible = false;
        for (;;) {
            if (std::optional<int> code = WaitForExit(pid, 0ms)) return code;
            if (Clock::now() >= end) return std::nullopt;
            *everVisible = *everVisible || AnyPopupWindowVisible();
            std::this_thread::sleep_for(50ms);
        }
    }

    static QImage Grab(int x, int y, int w, int h) {
        return QGuiApplication::primaryScreen()
            ->grabWindow(0, x, y, w, h)
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    }

    // The screen once `painted` holds for it, or the last grab after 8 s: a loaded
    // machine may show the window some time before its page is painted into it.
    template <typename Painted>
    static QImage GrabWhen(int x, int y, int w, int h, Painted painted) {
        QImage shot;
        for (int i = 0; i < 80; ++i) {
            shot = Grab(x, y, w, h);
            if (!shot.isNull() && painted(shot)) break;
            std::this_thread::sleep_for(100ms);
        }
        return shot;
    }

    std::string runtime_;
    std::string log_;
    std::vector<pid_t> children_;
};

TEST_F(PopupTest, ShowsSizedInTheCornerWithoutFocusKeepsOneInstanceAndClosesOnRequest) {
    PageServer server({{"/notice", {200, NoticePage()}}});
    const pid_t popup = StartTosk(NoticeArgs(server.Url("/notice")));

    Clock::time_point visibleAt;
    const std::optional<std::string> window = WaitVisible(popup, 20s, &visibleAt);
    ASSERT_TRUE(window) << "no window; log in " << log_;
    const std::optional<Clock::time_point> loadedAt = server.Requested("/notice");
    ASSERT_TRUE(loadedAt);
    // The page settles for 3 s, then the placed window waits 0.5 s before it shows.
    std::printf("[ timing   ] visible %.2f s after the page was asked for\n",
                SecondsSince(*loadedAt, visibleAt));
    EXPECT_GE(SecondsSince(*loadedAt, visibleAt), 3.4);
    EXPECT_LE(SecondsSince(*loadedAt, visibleAt), 8.0);
    EXPECT_TRUE(server.Requested("/missing-frame")) << "the frame's failure must not count";

    const WindowFacts facts = Inspect(*window);
    EXPECT_TRUE(facts.viewable);
    EXPECT_EQ(facts.width, 300);
    EXPECT_EQ(facts.height, 250);
    EXPECT_EQ(facts.x, kScreenWidth - 300 - 4);
    EXPECT_EQ(facts.y, kScreenHeight - 250 - 4);
    EXPECT_EQ(WindowOpacity(*window), std::nullopt) << "opacity 1 applies no alpha";
    EXPECT_NE(Capture({"/usr/bin/xdotool", "getwindowfocus"}).find(*window), 0u)
        << "took the focus";

    // What the screen shows: the page, with the screen's black beyond the margin.
    const QImage shot =
        GrabWhen(facts.x - 40, facts.y - 40, 300 + 44, 250 + 44, [](const QImage& s) {
            return s.pixel(40 + 200, 40 + 200) == qRgb(0x00, 0xaa, 0x00) &&
                   s.pixel(40 + 60, 40 + 60) == qRgb(0xff, 0x00, 0x00);
        });
    ASSERT_FALSE(shot.isNull());
    shot.save(QStringLiteral(TOSK_SCREENSHOT));
    EXPECT_EQ(shot.pixel(40 + 200, 40 + 200), qRgb(0x00, 0xaa, 0x00));
    EXPECT_EQ(shot.pixel(40 + 60, 40 + 60), qRgb(0xff, 0x00, 0x00));
    EXPECT_EQ(shot.pixel(40 + 300 + 2, 40 + 100), qRgb(0, 0, 0));

    // A second start leaves at once and the first notice stays.
    const auto secondStarted = Clock::now();
    const pid_t second = StartTosk(NoticeArgs(server.Url("/notice")));
    EXPECT_EQ(WaitForExit(second, 5s), 0);
    EXPECT_LT(SecondsSince(secondStarted), 2.0);
    EXPECT_EQ(FindWindows(kTitle, true).size(), 1u);
    EXPECT_EQ(::kill(popup, 0), 0);

    // What morix --exit sends.
    const auto askedAt = Clock::now();
    EXPECT_EQ(RequestPopupClose(QString::fromStdString(runtime_)), CloseOutcome::kClosed);
    EXPECT_EQ(WaitForExit(popup, 3s), 0);
    EXPECT_LT(SecondsSince(askedAt), 5.0);
    EXPECT_TRUE(FindWindows(kTitle, false).empty());
    EXPECT_EQ(RequestPopupClose(QString::fromStdString(runtime_)), CloseOutcome::kNoPopup);
}

TEST_F(PopupTest, ComesToTheFrontLeavesTheTopLayerAndEndsOnAWindowManagersClose) {
    WindowManagerView manager;
    PageServer server({{"/notice", {200, NoticePage()}}});
    const pid_t popup = StartTosk(NoticeArgs(server.Url("/notice")));
    const std::optional<std::string> window = WaitVisible(popup, 20s);
    ASSERT_TRUE(window) << "no window; log in " << log_;

    // Mapped on top, so a window manager brings it to the front (none runs
    // here to change the state afterwards) ...
    EXPECT_NE(
        Capture({"/usr/bin/xprop", "-id", *window, "_NET_WM_STATE"}).find("_NET_WM_STATE_ABOVE"),
        std::string::npos);
    // ... then it asks to be on top no longer.
    bool left = false;
    for (int i = 0; i < 40 && !left; ++i) {
        left = manager.AskedToLeaveTopLayer(*window);
        if (!left) std::this_thread::sleep_for(50ms);
    }
    EXPECT_TRUE(left);

    // The close box ends the program, and with it its hold on the next notice.
    const auto askedAt = Clock::now();
    manager.Close(*window);
    EXPECT_EQ(WaitForExit(popup, 5s), 0);
    EXPECT_LT(SecondsSince(askedAt), 4.0);
}

TEST_F(PopupTest, QueryWithBarAndBracesLoadsAsMorixSendsIt) {
    // morix hands on such an address (a font list, a template in the query).
    PageServer server({{"/notice", {200, NoticePage()}}});
    const pid_t popup =
        StartTosk(NoticeArgs(server.Url("/notice") + "?family=Roboto|Open+Sans&q={x}"));
    ASSERT_TRUE(WaitVisible(popup, 20s)) << "log in " << log_;
    EXPECT_EQ(RequestPopupClose(QString::fromStdString(runtime_)), CloseOutcome::kClosed);
    EXPECT_EQ(WaitForExit(popup, 5s), 0);
}

TEST_F(PopupTest, ClickedLinkToANewWindowOpensInTheBrowserAndNothingOpensUnclicked) {
    // The default browser, as the desktop finds it: it notes what it is asked to open.
    const std::string opened = runtime_ + "/opened";
    const std::string browser = runtime_ + "/xdg-open";
    {
        std::ofstream script(browser);
        script << "#!/bin/sh\necho \"$1\" >> '" << opened << "'\n";
    }
    ::chmod(browser.c_str(), 0700);
    const ScopedEnv path("PATH", runtime_ + ":" + std::getenv("PATH"));
    // The notice's left half links to a page for a new window, its right half
    // to an address that is not on the web; the script asks for windows
    // without a click, at once and after it is shown.
    const std::string links =
        "<a href=\"/offer\" target=\"_blank\" style=\"position: absolute; left: 0;"
        " top: 0; width: 150px; height: 250px\"></a>"
        "<a href=\"file:///etc/hostname\" target=\"_blank\" style=\"position: absolute;"
        " left: 150px; top: 0; width: 150px; height: 250px\"></a>";
    const std::string script =
        "window.open('/unasked'); setTimeout(function () { window.open('/later'); }, 4000);"
        "document.getElementById('notice').insertAdjacentHTML('beforeend', '" +
        links + "');";
    PageServer server({{"/notice", {200, NoticePage(script)}}});
    const pid_t popup = StartTosk(NoticeArgs(server.Url("/notice")));
    const std::optional<std::string> window = WaitVisible(popup, 20s);
    ASSERT_TRUE(window) << "no window; log in " << log_;
    const WindowFacts facts = Inspect(*window);
    std::this_thread::sleep_for(1500ms);  // past the page's own late request
    const auto click = [&facts](int x) {
        Capture({"/usr/bin/xdotool", "mousemove", std::to_string(facts.x + x),
                 std::to_string(facts.y + 125), "click", "1"});
    };
    click(225);  // not a web address
    std::this_thread::sleep_for(500ms);
    click(75);
    std::string text;
    for (int i = 0; i < 100 && text.empty(); ++i) {
        std::this_thread::sleep_for(50ms);
        text = ReadFile(opened);
    }
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(ReadFile(opened), server.Url("/offer") + "\n");
    EXPECT_FALSE(server.Requested("/unasked"));
    EXPECT_FALSE(server.Requested("/later"));
    EXPECT_FALSE(server.Requested("/offer")) << "the popup itself loads nothing new";
    EXPECT_EQ(::kill(popup, 0), 0) << "the notice stays";
}

TEST_F(PopupTest, KeepsClearOfPanelsOnTheWorkArea) {
    // What a desktop announces with a panel of 80 pixels on the right and 40 at the bottom.
    Capture({"/usr/bin/xprop", "-root", "-f", "_NET_SUPPORTED", "32a", "-set", "_NET_SUPPORTED",
             "_NET_WORKAREA"});
    Capture({"/usr/bin/xprop", "-root", "-f", "_NET_WORKAREA", "32c", "-set", "_NET_WORKAREA",
             "0, 0, 1200, 760"});
    PageServer server({{"/notice", {200, NoticePage()}}});
    const pid_t popup = StartTosk(NoticeArgs(server.Url("/notice")));
    const std::optional<std::string> window = WaitVisible(popup, 20s);
    Capture({"/usr/bin/xprop", "-root", "-remove", "_NET_WORKAREA"});
    Capture({"/usr/bin/xprop", "-root", "-remove", "_NET_SUPPORTED"});
    ASSERT_TRUE(window) << "no window; log in " << log_;
    const WindowFacts facts = Inspect(*window);
    EXPECT_EQ(facts.x, 1200 - 300 - 4);
    EXPECT_EQ(facts.y, 760 - 250 - 4);
}

struct EndCase {
    const char* name;
    std::map<std::string, HttpReply> pages;
    std::vector<std::string> args;  // "URL" is replaced by the server's /notice address
    double minSeconds;              // after the page was asked for (or the start, without one)
    double maxSeconds;
};

void PrintTo(const EndCase& c, std::ostream* os) {
    *os << c.name;
}

class PopupEndsUnseenTest : public PopupTest, public ::testing::WithParamInterface<EndCase> {};

TEST_P(PopupEndsUnseenTest, EndsWithExitCodeZeroWithoutShowing) {
    const EndCase& c = GetParam();
    PageServer server(c.pages);
    std::vector<std::string> args = c.args;
    for (std::string& a : args) {
        if (a == "URL") a = server.Url("/notice");
        if (a == "REFUSED") a = "http://127.0.0.1:1/notice";  // nothing listens there
    }
    const auto started = Clock::now();
    const pid_t popup = StartTosk(args);
    bool everVisible = false;
    const std::optional<int> code = WaitExitUnseen(popup, 45s, &everVisible);
    const auto endedAt = Clock::now();
    ASSERT_TRUE(code) << c.name << ": still running; log in " << log_;
    EXPECT_EQ(*code, 0);
    EXPECT_FALSE(everVisible);
    const Clock::time_point from = server.Requested("/notice").value_or(started);
    std::printf("[ timing   ] %s: ended %.2f s after the page was asked for (or the start)\n",
                c.name, SecondsSince(from, endedAt));
    EXPECT_GE(SecondsSince(from, endedAt), c.minSeconds);
    EXPECT_LE(SecondsSince(from, endedAt), c.maxSeconds);
}

const std::string kStopPage = NoticePage({}, "<div id=\"stop\"></div>");

INSTANTIATE_TEST_SUITE_P(
    Cases, PopupEndsUnseenTest,
    ::testing::Values(
        EndCase{"ForbiddenElement",
                {{"/notice", {200, kStopPage}}},
                {"/A", "URL", "/S", "notice", "/N", "stop"},
                2.8,
                7.0},
        EndCase{"MissingElement",
                {{"/notice", {200, NoticePage()}}},
                {"/A", "URL", "/S", "absent"},
                2.8,
                7.0},
        EndCase{"NotFound", {}, {"/A", "URL", "/S", "notice"}, 0.0, 2.5},
        EndCase{"ServerError",
                {{"/notice", {500, NoticePage()}}},
                {"/A", "URL", "/S", "notice"},
                0.0,
                2.5},
        EndCase{"Refused", {}, {"/A", "REFUSED", "/S", "notice"}, 0.0, 5.0},
        EndCase{"NotAWebAddress", {}, {"/A", "file:///etc/hostname", "/S", "notice"}, 0.0, 5.0},
        EndCase{"NoElementId", {{"/notice", {200, NoticePage()}}}, {"/A", "URL"}, 0.0, 2.0},
        EndCase{"LoadTimeOut",
                {{"/notice", {200, "", HttpReply::Kind::kStall}}},
                {"/A", "URL", "/S", "notice"},
                28.5,
                40.0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PopupTest, ScriptSeesCaselessExternalWithCheckedArguments) {
    const std::string script =
        "function attempt(name, f) {"
        "  try { f(); report(name, 'ok'); } catch (e) { report(name, e.name); }"
        "}"
        "report('caseless', [typeof external.CLOSE, typeof external.KeepAlive,"
        "                    typeof external.SetColorKey, 'Opacity' in external].join());"
        "report('opacityAtStart', external.opacity);"
        "attempt('opacityPut', function () { external.opacity = 0.5; });"
        "report('opacityRead', external.OPACITY);"
        "attempt('opacityText', function () { external.Opacity = 'half'; });"
        "report('opacityAfterText', external.opacity);"
        "attempt('keepaliveTwo', function () { external.keepalive(1000, 2000); });"
        "attempt('keepaliveNone', function () { external.keepalive(); });"
        "attempt('keepaliveText', function () { external.keepalive('soon'); });"
        "attempt('colorkeyTwo', function () { external.setcolorkey(0, 255); });"
        "attempt('colorkeyText', function () { external.setcolorkey(0, 0, 'red'); });"
        "attempt('unknownPut', function () { external.nosuchmember = 1; });"
        "attempt('unknownCall', function () { external.nosuchmember(); });"
        "attempt('colorkey', function () { external.setcolorkey(0, 0, 255); });"
        "attempt('keepaliveEarly', function () { external.keepalive(4500); });"
        // Shown at about 3.5 s, which gives it the display time instead of the
        // 4.5 s asked for above; at 5.5 s two seconds more from then. A failed
        // navigation once shown does not close it.
        "setTimeout(function () { report('opacityLater', external.opacity); "
        "external.KEEPALIVE(2000); report('kept', 'now');"
        "  setTimeout(function () { location.href = '/gone'; }, 300); }, 5500);";
    PageServer server({{"/notice", {200, NoticePage(script)}}});
    const pid_t popup = StartTosk(NoticeArgs(server.Url("/notice")));

    const std::optional<std::string> window = WaitVisible(popup, 20s);
    ASSERT_TRUE(window) << "no window; log in " << log_;

    const std::map<std::string, std::string> expected = {
        {"caseless", "function,function,function,true"},
        {"opacityAtStart", "1"},
        {"opacityPut", "ok"},
        {"opacityRead", "0.5"},
        {"opacityText", "ok"},
        {"opacityAfterText", "0.5"},
        {"keepaliveTwo", "RangeError"},
        {"keepaliveNone", "RangeError"},
        {"keepaliveText", "TypeError"},
        {"colorkeyTwo", "RangeError"},
        {"colorkeyText", "TypeError"},
        {"unknownPut", "TypeError"},
        {"unknownCall", "TypeError"},
        {"colorkey", "ok"},
        {"keepaliveEarly", "ok"},
    };
    for (const auto& [key, value] : expected)
        EXPECT_EQ(server.Report(key, 2s).value_or("(none)"), value) << key;

    // Opacity 0.5 is alpha 127 of 255.
    EXPECT_EQ(WindowOpacity(*window), 127ul * 0x01010101ul);

    // Pure red is keyed out: the screen's black shows through, the green stays. A window
    // not painted yet is all black too, so wait for both (a loaded machine paints late).
    const WindowFacts facts = Inspect(*window);
    const QImage shot = GrabWhen(facts.x, facts.y, facts.width, facts.height, [](const QImage& s) {
        return s.pixel(60, 60) == qRgb(0, 0, 0) && s.pixel(200, 200) == qRgb(0x00, 0xaa, 0x00);
    });
    EXPECT_EQ(shot.pixel(60, 60), qRgb(0, 0, 0));
    EXPECT_EQ(shot.pixel(200, 200), qRgb(0x00, 0xaa, 0x00));

    EXPECT_EQ(server.Report("opacityLater", 10s).value_or("(none)"), "0.5");

    // The keepalive made after showing ends it two seconds later, long before the display
    // time, and the failed navigation in between does not.
    Clock::time_point keptAt;
    ASSERT_TRUE(server.Report("kept", 15s, &keptAt));
    ASSERT_EQ(WaitForExit(popup, 10s), 0);
    std::printf("[ timing   ] ended %.2f s after keepalive(2000)\n", SecondsSince(keptAt));
    EXPECT_TRUE(server.Requested("/gone"));
    EXPECT_GE(SecondsSince(keptAt), 1.5);
    EXPECT_LE(SecondsSince(keptAt), 5.0);
}

struct CloseCase {
    const char* name;
    const char* member;
    int delayMs;
    bool shows;
};

void PrintTo(const CloseCase& c, std::ostream* os) {
    *os << c.name;
}

class PopupCloseTest : public PopupTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(PopupCloseTest, PageScriptClosesIt) {
    const CloseCase& c = GetParam();
    const std::string script = "setTimeout(function () { external." + std::string(c.member) +
                               "(); }, " + std::to_string(c.delayMs) + ");";
    PageServer server({{"/notice", {200, NoticePage(script)}}});
    const pid_t popup = StartTosk(NoticeArgs(server.Url("/notice")));
    if (c.shows) {
        ASSERT_TRUE(WaitVisible(popup, 20s)) << "log in " << log_;
    }
    bool everVisible = false;
    ASSERT_EQ(WaitExitUnseen(popup, 20s, &everVisible), 0);
    const std::optional<Clock::time_point> loadedAt = server.Requested("/notice");
    ASSERT_TRUE(loadedAt);
    const double seconds = SecondsSince(*loadedAt);
    EXPECT_GE(seconds, c.delayMs / 1000.0);
    EXPECT_LE(seconds, c.delayMs / 1000.0 + 2.5);
    if (!c.shows) {
        EXPECT_FALSE(everVisible);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, PopupCloseTest,
                         ::testing::Values(CloseCase{"LowerBeforeShown", "close", 0, false},
                                           CloseCase{"UpperBeforeShown", "CLOSE", 0, false},
                                           CloseCase{"MixedWhileShown", "Close", 4500, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tosk::testing

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::unique_ptr<tosk::testing::XServer> display;
    std::unique_ptr<QGuiApplication> app;
#ifndef TOSK_SANITIZED_BUILD
    if (!::testing::GTEST_FLAG(list_tests)) {
        // Never the display of whoever runs the tests: a private one for each run.
        display = std::make_unique<tosk::testing::XServer>();
        ::setenv("DISPLAY", display->Display().c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        app = std::make_unique<QGuiApplication>(argc, argv);
    }
#endif
    const int result = RUN_ALL_TESTS();
    app.reset();
    display.reset();
    return result;
}
