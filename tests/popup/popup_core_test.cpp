#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QJsonObject>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <future>
#include <limits>

#include "popup/color_key.h"
#include "popup/instance_channel.h"
#include "popup/popup_args.h"
#include "popup/script_values.h"
#include "support/run_process.h"

namespace tosk {
namespace {

// ---------------------------------------------------------------- command line

struct ArgsCase {
    const char* what;
    std::vector<std::string> argv;
    PopupArgs expected;
};

void PrintTo(const ArgsCase& c, std::ostream* os) {
    *os << c.what;
}

class ParseArgsTest : public ::testing::TestWithParam<ArgsCase> {};

TEST_P(ParseArgsTest, ReadsAddressAndElementIds) {
    const ArgsCase& c = GetParam();
    const PopupArgs args = ParseArgs(c.argv);
    EXPECT_EQ(args.url, c.expected.url) << c.what;
    EXPECT_EQ(args.sid, c.expected.sid) << c.what;
    EXPECT_EQ(args.nid, c.expected.nid) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseArgsTest,
    ::testing::Values(
        ArgsCase{"the full line morix writes; title, time and colours are skipped",
                 {"tosk", "/T", "Ad by Trelvo Renamer", "/A", "http://127.0.0.1/n", "/S", "box",
                  "/O", "10", "/F", "#fff", "/B", "#000"},
                 {"http://127.0.0.1/n", "box", ""}},
        ArgsCase{"switches without regard to case, /N read",
                 {"tosk", "/a", "http://h/", "/s", "main", "/n", "stop"},
                 {"http://h/", "main", "stop"}},
        ArgsCase{"a value is taken as it stands even when it looks like a switch",
                 {"tosk", "/A", "/S", "x"},
                 {"/S", "", ""}},
        ArgsCase{"a later switch overwrites", {"tosk", "/S", "a", "/S", "b"}, {"", "b", ""}},
        ArgsCase{"a switch without its value at the end is ignored",
                 {"tosk", "/S", "a", "/A"},
                 {"", "a", ""}},
        ArgsCase{"a skipped value that reads /S is taken as the switch",
                 {"tosk", "/T", "/S", "box"},
                 {"", "box", ""}},
        ArgsCase{"the program name is never a switch", {"/A", "x"}, {"", "", ""}},
        ArgsCase{"longer switches and lone slashes are skipped",
                 {"tosk", "/AA", "u", "/", "v", "/Sx", "w"},
                 {"", "", ""}}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

// ---------------------------------------------------------------- script values

TEST(ScriptValuesTest, ConvertsNumbersTextsAndBooleansOnly) {
    EXPECT_EQ(ScriptDouble(QJsonValue(0.5)), 0.5);
    EXPECT_EQ(ScriptDouble(QJsonValue(QStringLiteral(" 0.25 "))), 0.25);
    EXPECT_EQ(ScriptDouble(QJsonValue(QStringLiteral("1e-1"))), 0.1);
    EXPECT_EQ(ScriptDouble(QJsonValue(true)), 1.0);
    EXPECT_EQ(ScriptDouble(QJsonValue(false)), 0.0);
    EXPECT_FALSE(ScriptDouble(QJsonValue(QStringLiteral("abc"))));
    EXPECT_FALSE(ScriptDouble(QJsonValue(QStringLiteral("0.5x"))));
    EXPECT_FALSE(ScriptDouble(QJsonValue(QStringLiteral(""))));
    EXPECT_FALSE(ScriptDouble(QJsonValue(QStringLiteral("nan"))));
    EXPECT_FALSE(ScriptDouble(QJsonValue(QStringLiteral("inf"))));
    EXPECT_FALSE(ScriptDouble(QJsonValue(std::numeric_limits<double>::infinity())));
    EXPECT_FALSE(ScriptDouble(QJsonValue()));
    EXPECT_FALSE(ScriptDouble(QJsonValue(QJsonValue::Undefined)));
    EXPECT_FALSE(ScriptDouble(QJsonValue(QJsonObject())));
}

TEST(ScriptValuesTest, IntegersRoundHalfToEvenAndStayWithin32Bits) {
    EXPECT_EQ(ScriptInt32(QJsonValue(2.5)), 2);
    EXPECT_EQ(ScriptInt32(QJsonValue(3.5)), 4);
    EXPECT_EQ(ScriptInt32(QJsonValue(-2.5)), -2);
    EXPECT_EQ(ScriptInt32(QJsonValue(1.4)), 1);
    EXPECT_EQ(ScriptInt32(QJsonValue(QStringLiteral("120000"))), 120000);
    EXPECT_EQ(ScriptInt32(QJsonValue(2147483647.0)), 2147483647);
    EXPECT_EQ(ScriptInt32(QJsonValue(-2147483648.0)), std::numeric_limits<std::int32_t>::min());
    EXPECT_FALSE(ScriptInt32(QJsonValue(2147483648.0)));
    EXPECT_FALSE(ScriptInt32(QJsonValue(-2147483649.0)));
    EXPECT_FALSE(ScriptInt32(QJsonValue(QStringLiteral("x"))));
}

TEST(ScriptValuesTest, ColorKeyTakesBlueGreenRedLowBytes) {
    EXPECT_EQ(ColorKeyFromBgr(0, 0, 255), 0x000000FFu);  // pure red
    EXPECT_EQ(ColorKeyFromBgr(255, 0, 0), 0x00FF0000u);  // pure blue
    EXPECT_EQ(ColorKeyFromBgr(0x112, 0x134, 0x156), 0x00123456u);
    EXPECT_EQ(ColorKeyFromBgr(-1, -1, -1), 0x00FFFFFFu);  // white, never "no key"
}

TEST(ScriptValuesTest, AlphaIsTruncatedAndAbsentFromOneUp) {
    EXPECT_EQ(LayeredAlpha(0.5), 127);
    EXPECT_EQ(LayeredAlpha(0.999), 254);
    EXPECT_EQ(LayeredAlpha(0.0), 0);
    EXPECT_EQ(LayeredAlpha(1.0), std::nullopt);
    EXPECT_EQ(LayeredAlpha(7.0), std::nullopt);
    EXPECT_EQ(LayeredAlpha(-0.5), 0);
    EXPECT_EQ(LayeredAlpha(-1e300), 0);
}

TEST(ScriptValuesTest, NegativeKeepAliveKeepsLongest) {
    EXPECT_EQ(KeepAliveInterval(5000), 5000);
    EXPECT_EQ(KeepAliveInterval(0), 0);
    EXPECT_EQ(KeepAliveInterval(-1), std::numeric_limits<int>::max());
}

// ---------------------------------------------------------------- colour key

TEST(ColorKeyTest, KeyPixelsBecomeHoles) {
    QImage image(40, 30, QImage::Format_ARGB32_Premultiplied);
    image.fill(qRgb(0, 170, 0));
    for (int y = 5; y < 15; ++y)
        for (int x = 10; x < 20; ++x)
            image.setPixel(x, y, qRgb(255, 0, 0));
    image.setPixel(39, 29, qRgb(255, 0, 0));  // a lone key pixel in the corner

    const QRegion region = OpaqueRegion(image, qRgb(255, 0, 0));
    EXPECT_EQ(region.boundingRect(), QRect(0, 0, 40, 30));
    EXPECT_FALSE(region.contains(QPoint(10, 5)));
    EXPECT_FALSE(region.contains(QPoint(19, 14)));
    EXPECT_FALSE(region.contains(QPoint(39, 29)));
    EXPECT_TRUE(region.contains(QPoint(9, 5)));
    EXPECT_TRUE(region.contains(QPoint(20, 14)));
    EXPECT_TRUE(region.contains(QPoint(10, 15)));
    int area = 0;
    for (const QRect& r : region)
        area += r.width() * r.height();
    EXPECT_EQ(area, 40 * 30 - 100 - 1);
    EXPECT_EQ(region.rectCount(),
              1 + 2 + 1 + 1);  // bands above, beside, below the square, last row

    // A near colour is not the key, and the whole image in the key is all holes.
    const QRegion whole = OpaqueRegion(image, qRgb(254, 0, 0));
    EXPECT_TRUE((whole ^ QRegion(0, 0, 40, 30)).isEmpty());
    EXPECT_EQ(whole.rectCount(), 1) << "equal rows share one band";
    image.fill(qRgb(255, 0, 0));
    EXPECT_TRUE(OpaqueRegion(image, qRgb(255, 0, 0)).isEmpty());
}

// ---------------------------------------------------------------- instance and close request

class InstanceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ::chmod(dir_.path().toLocal8Bit().constData(), 0700);
    }

    QString Folder() const { return dir_.path(); }

    int argc_ = 1;
    char name_[16] = "popup_core";
    char* argv_[2] = {name_, nullptr};
    QCoreApplication app_{argc_, argv_};
    QTemporaryDir dir_;
};

TEST_F(InstanceTest, RuntimeFolderMustBePrivate) {
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", Folder().toLocal8Bit());
    EXPECT_EQ(PrivateRuntimeFolder(), Folder());

    ::chmod(Folder().toLocal8Bit().constData(), 0755);
    const std::optional<QString> fallback = PrivateRuntimeFolder();
    ASSERT_TRUE(fallback);
    EXPECT_NE(*fallback, Folder());
    struct stat info {};
    ASSERT_EQ(::lstat(fallback->toLocal8Bit().constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 077, 0u);
    qputenv("XDG_RUNTIME_DIR", saved);
}

TEST_F(InstanceTest, OneHolderAtATime) {
    auto first = std::make_unique<PopupInstance>(Folder());
    ASSERT_TRUE(first->Acquire());
    PopupInstance second(Folder());
    EXPECT_FALSE(second.Acquire());
    EXPECT_FALSE(second.Listen());
    first.reset();
    EXPECT_TRUE(second.Acquire());
}

TEST_F(InstanceTest, CloseRequestIsAnsweredAndWaitsForTheEnd) {
    auto instance = std::make_unique<PopupInstance>(Folder());
    ASSERT_TRUE(instance->Acquire());
    ASSERT_TRUE(instance->Listen());
    int requests = 0;
    QObject::connect(instance.get(), &PopupInstance::closeRequested, [&] {
        ++requests;
        // The popup ends a little later than it answers.
        QTimer::singleShot(150, [&] { instance.reset(); });
    });

    const auto started = std::chrono::steady_clock::now();
    auto outcome =
        std::async(std::launch::async, [this] { return RequestPopupClose(Folder(), 50, 20); });
    while (outcome.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(outcome.get(), CloseOutcome::kClosed);
    EXPECT_EQ(requests, 1);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(150));
}

TEST_F(InstanceTest, NoPopupAndSilentPopup) {
    EXPECT_EQ(RequestPopupClose(Folder(), 50, 20), CloseOutcome::kNoPopup);
    EXPECT_EQ(RequestPopupClose(Folder() + "/missing", 50, 20), CloseOutcome::kNoPopup);

    PopupInstance silent(Folder());  // holds the lock but never listens
    ASSERT_TRUE(silent.Acquire());
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(RequestPopupClose(Folder(), 5, 20), CloseOutcome::kNoAnswer);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
}

TEST_F(InstanceTest, OtherMessagesAreRefused) {
    PopupInstance instance(Folder());
    ASSERT_TRUE(instance.Acquire());
    ASSERT_TRUE(instance.Listen());
    int requests = 0;
    QObject::connect(&instance, &PopupInstance::closeRequested, [&] { ++requests; });

    for (const QByteArray& message :
         {QByteArray("exit\n"), QByteArray("close now\n"), QByteArray(200, 'c')}) {
        QLocalSocket socket;
        socket.connectToServer(CloseSocketPath(Folder()));
        ASSERT_TRUE(socket.waitForConnected(1000));
        socket.write(message);
        socket.flush();
        QEventLoop loop;
        QObject::connect(&socket, &QLocalSocket::disconnected, &loop, &QEventLoop::quit);
        QTimer::singleShot(3000, &loop, &QEventLoop::quit);
        if (socket.state() == QLocalSocket::ConnectedState) loop.exec();
        EXPECT_EQ(socket.state(), QLocalSocket::UnconnectedState) << message.left(20).constData();
        EXPECT_FALSE(socket.readAll().contains("ok")) << message.left(20).constData();
    }
    EXPECT_EQ(requests, 0);
}

// The program ends quietly with 0 when it has nothing to show or no display
// to show it on; the display named here does not exist.
TEST_F(InstanceTest, ProgramEndsWithZeroWithoutIdsOrDisplay) {
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray savedDisplay = qgetenv("DISPLAY");
    qputenv("XDG_RUNTIME_DIR", Folder().toLocal8Bit());
    qputenv("DISPLAY", ":999");
    const auto run = [](std::vector<std::string> args) {
        args.insert(args.begin(), TOSK_BINARY);
        return morix::testing::RunProcess(args).exitCode;
    };
    EXPECT_EQ(run({"/T", "Ad by Trelvo Renamer", "/A", "http://127.0.0.1:1/n"}), 0);
    EXPECT_EQ(run({"/S", "box", "/N", "stop"}), 0);
    EXPECT_EQ(run({"/A", "http://127.0.0.1:1/n", "/S", "box"}), 0);
    // It let go of the lock on the way out.
    PopupInstance next(Folder());
    EXPECT_TRUE(next.Acquire());
    qputenv("XDG_RUNTIME_DIR", savedRuntime);
    qputenv("DISPLAY", savedDisplay);
}

}  // namespace
}  // namespace tosk
