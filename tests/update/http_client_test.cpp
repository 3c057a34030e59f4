// HttpClient against a real server on 127.0.0.1.
#include "update/http_client.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "support/loopback_http_server.h"
#include "thread/thread.h"

namespace morix {
namespace {

using testing::HttpReply;
using testing::LoopbackHttpServer;
using Clock = std::chrono::steady_clock;

// A proxy named in the environment must not catch requests to loopback.
const bool kNoProxy = [] {
    ::setenv("no_proxy", "127.0.0.1,localhost,::1", 1);
    ::setenv("NO_PROXY", "127.0.0.1,localhost,::1", 1);
    return true;
}();

HttpLimits ShortLimits() {
    HttpLimits limits;
    limits.connectTimeoutMs = 2000;
    limits.stallTimeoutSeconds = 1;
    limits.totalTimeoutMs = 10000;
    limits.maxAnswerBytes = 64 * 1024;
    return limits;
}

std::u16string U16(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Fetched {
    bool opened = false;
    bool sent = false;
    bool hasStatus = false;
    std::uint32_t status = 0;
    std::string bytes;
    bool complete = false;
};

Fetched Get(const std::string& url, HttpLimits limits = ShortLimits()) {
    Fetched f;
    HttpClient client(nullptr, limits);
    f.opened = client.OpenRequest(u"GET", U16(url), kHttpFlagReload | kHttpFlagNoCacheWrite);
    if (!f.opened) return f;
    f.sent = client.SendRequest(nullptr, -1, nullptr, 0);
    f.hasStatus = client.QueryStatusCode(f.status);
    if (f.sent) f.bytes = client.ReadBytes(-1);
    f.complete = client.BodyComplete();
    return f;
}

TEST(HttpClientTest, StatusesAndBodiesArriveWhole) {
    for (int status : {200, 404, 500}) {
        const std::string body = "answer " + std::to_string(status);
        LoopbackHttpServer server(HttpReply{status, body});
        const Fetched f = Get(server.Root() + "/morix/version?version=1.8.0.0&lang=en");
        ASSERT_TRUE(f.sent) << status;
        ASSERT_TRUE(f.hasStatus);
        EXPECT_EQ(f.status, static_cast<std::uint32_t>(status));
        EXPECT_EQ(f.bytes, body);
        EXPECT_TRUE(f.complete);
        // The query stays in the request path.
        ASSERT_EQ(server.Requests().size(), 1u);
        EXPECT_EQ(server.Requests()[0].rfind(
                      "GET /morix/version?version=1.8.0.0&lang=en HTTP/1.1\r\n", 0),
                  0u);
    }
}

TEST(HttpClientTest, ReadTextDecodesAndStopsAtTheFirstZeroByte) {
    struct Case {
        std::string body;
        std::uint32_t codePage;
        std::u16string text;
    } cases[] = {
        {"<v d=\"\xED\x95\x9C \xC3\xA9\"/>", kCodePageUtf8, u"<v d=\"\uD55C \u00E9\"/>"},
        {std::string("ab\0cd", 5), kCodePageUtf8, u"ab"},
        {"", kCodePageUtf8, u""},
        // Malformed bytes become U+FFFD; another code page still decodes as
        // the system's charset, UTF-8.
        {"a\xFF"
         "b\xED\x95\x9C",
         949, u"a\uFFFDb\uD55C"},
        {"Hi +AGEAYgBj-", kCodePageUtf7, u"Hi abc"},
    };
    for (const Case& c : cases) {
        LoopbackHttpServer server(HttpReply{200, c.body});
        HttpClient client(nullptr, ShortLimits());
        ASSERT_TRUE(client.OpenRequest(u"GET", U16(server.Root() + "/"), 0));
        ASSERT_TRUE(client.SendRequest(nullptr, -1, nullptr, 0));
        std::uint32_t status = 0;
        ASSERT_TRUE(client.QueryStatusCode(status));
        EXPECT_EQ(status, 200u);
        EXPECT_EQ(client.ReadText(c.codePage, -1), c.text) << c.body;
        EXPECT_TRUE(client.BodyComplete());
    }
}

TEST(HttpClientTest, ReadLimitCountsWholeChunks) {
    std::string body(20000, 'a');
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>('a' + i % 26);
    LoopbackHttpServer server(HttpReply{200, body});
    HttpClient client(nullptr, ShortLimits());
    ASSERT_TRUE(client.OpenRequest(u"GET", U16(server.Root() + "/big"), 0));
    ASSERT_TRUE(client.SendRequest(nullptr, -1, nullptr, 0));
    const std::string first = client.ReadBytes(100);
    EXPECT_EQ(first, body.substr(0, kHttpChunkSize));
    EXPECT_FALSE(client.BodyComplete());
    const std::string second = client.ReadBytes(kHttpChunkSize + 1);
    EXPECT_EQ(second, body.substr(kHttpChunkSize, 20000 - kHttpChunkSize));
    EXPECT_TRUE(client.BodyComplete());
}

TEST(HttpClientTest, OnlyHttpAndHttpsAddressesOpen) {
    HttpClient client(nullptr, ShortLimits());
    EXPECT_TRUE(client.OpenRequest(u"GET", u"http://127.0.0.1:9/x", kHttpFlagReload));
    EXPECT_EQ(client.RequestFlags(), kHttpFlagReload);
    EXPECT_TRUE(client.OpenRequest(u"GET", u"HTTPS://127.0.0.1:9/x", kHttpFlagReload));
    EXPECT_EQ(client.RequestFlags(), kHttpFlagReload | kHttpFlagSecure);
    for (const char16_t* bad :
         {u"ftp://127.0.0.1/x", u"file:///etc/passwd", u"javascript:alert(1)", u"127.0.0.1/x", u"",
          u"http://", u"http://127.0.0.1/a\r\nX-Injected: 1", u"http://127.0.0.1/\xD800"}) {
        EXPECT_FALSE(client.OpenRequest(u"GET", bad, 0));
        EXPECT_EQ(client.RequestFlags(), 0u);
        EXPECT_FALSE(client.SendRequest(nullptr, -1, nullptr, 0));
    }
    EXPECT_FALSE(client.OpenRequest(u"GE T", u"http://127.0.0.1:9/x", 0));
}

TEST(HttpClientTest, SpacesAndNonAsciiAreSentEncodedAndHeadersAndBodyGoOut) {
    LoopbackHttpServer server(HttpReply{200, "ok"});
    InternetSession session("agent-of-test");
    HttpClient client(&session, ShortLimits());
    ASSERT_TRUE(client.OpenRequest(u"PUT", U16(server.Root()) + u"/a b?q=\u00E9", kHttpFlagReload));
    const char body[] = "payload";
    ASSERT_TRUE(client.SendRequest(u"X-One: 1\r\nX-Two: 2\r\n", -1, body, 7));
    EXPECT_EQ(client.ReadBytes(-1), "ok");
    const std::string head = server.Requests().at(0);
    EXPECT_EQ(head.rfind("PUT /a%20b?q=%C3%A9 HTTP/1.1\r\n", 0), 0u) << head;
    EXPECT_NE(head.find("\r\nUser-Agent: agent-of-test\r\n"), std::string::npos) << head;
    EXPECT_NE(head.find("\r\nX-One: 1\r\n"), std::string::npos) << head;
    EXPECT_NE(head.find("\r\nX-Two: 2\r\n"), std::string::npos) << head;
    EXPECT_NE(head.find("\r\nContent-Length: 7\r\n"), std::string::npos) << head;
}

TEST(HttpClientTest, SharedSessionIsCreatedOnce) {
    InternetSession* first = GetSharedInternet(u"first agent");
    EXPECT_EQ(GetSharedInternet(u"second agent"), first);
    EXPECT_EQ(GetSharedInternet(nullptr), first);
    EXPECT_NE(first->UserAgent(), "second agent");
}

TEST(HttpClientTest, RedirectsAreFollowedOnlyToWebAddresses) {
    LoopbackHttpServer server([](const std::string& head) {
        if (head.rfind("GET /old ", 0) == 0)
            return HttpReply{302, "", HttpReply::Kind::kNormal, "Location: /new\r\n"};
        if (head.rfind("GET /local ", 0) == 0)
            return HttpReply{302, "", HttpReply::Kind::kNormal, "Location: file:///etc/passwd\r\n"};
        if (head.rfind("GET /nowhere ", 0) == 0)
            return HttpReply{302, "no location", HttpReply::Kind::kNormal};
        return HttpReply{200, "moved here"};
    });
    const Fetched moved = Get(server.Root() + "/old");
    EXPECT_EQ(moved.status, 200u);
    EXPECT_EQ(moved.bytes, "moved here");
    EXPECT_TRUE(moved.complete);
    ASSERT_EQ(server.Requests().size(), 2u);
    EXPECT_EQ(server.Requests()[1].rfind("GET /new HTTP/1.1\r\n", 0), 0u);

    const Fetched local = Get(server.Root() + "/local");
    EXPECT_FALSE(local.sent);
    EXPECT_EQ(local.bytes, "");
    EXPECT_EQ(server.Requests().size(), 3u);

    // A redirect status without a target is the answer itself.
    const Fetched nowhere = Get(server.Root() + "/nowhere");
    EXPECT_EQ(nowhere.status, 302u);
    EXPECT_EQ(nowhere.bytes, "no location");
}

TEST(HttpClientTest, MisbehavingServersEndInFailureWithinTheirLimits) {
    {  // Nothing at all after the request: the stall time-out.
        LoopbackHttpServer server(HttpReply{200, "", HttpReply::Kind::kStall});
        const auto start = Clock::now();
        const Fetched f = Get(server.Root() + "/");
        EXPECT_FALSE(f.sent);
        EXPECT_FALSE(f.hasStatus);
        EXPECT_LT(SecondsSince(start), 5.0);
    }
    {  // Headers, then silence: the status is known, the body never completes.
        LoopbackHttpServer server(HttpReply{200, "never sent", HttpReply::Kind::kStallBody});
        const auto start = Clock::now();
        const Fetched f = Get(server.Root() + "/");
        EXPECT_TRUE(f.sent);
        EXPECT_EQ(f.status, 200u);
        EXPECT_EQ(f.bytes, "");
        EXPECT_FALSE(f.complete);
        EXPECT_LT(SecondsSince(start), 5.0);
    }
    {  // A body without end stops at the cap.
        LoopbackHttpServer server(HttpReply{200, "", HttpReply::Kind::kEndless});
        const Fetched f = Get(server.Root() + "/");
        EXPECT_TRUE(f.sent);
        EXPECT_LE(f.bytes.size(), ShortLimits().maxAnswerBytes);
        EXPECT_FALSE(f.complete);
    }
    {  // Closed before the announced length.
        LoopbackHttpServer server(
            HttpReply{200, std::string(1000, 'z'), HttpReply::Kind::kCloseEarly});
        const Fetched f = Get(server.Root() + "/");
        EXPECT_TRUE(f.sent);
        EXPECT_EQ(f.bytes, std::string(500, 'z'));
        EXPECT_FALSE(f.complete);
    }
    {  // Nobody listening.
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size), 0);
        const int port = ntohs(address.sin_port);
        ::close(fd);  // bound, never listened: the port refuses
        const Fetched f = Get("http://127.0.0.1:" + std::to_string(port) + "/");
        EXPECT_TRUE(f.opened);
        EXPECT_FALSE(f.sent);
        EXPECT_FALSE(f.hasStatus);
    }
}

// The process's resident memory now and at its peak since the last reset,
// in KiB.
long MemoryKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field)));
    }
    return -1;
}

TEST(HttpClientTest, AHundredMegabyteAnswerStopsAtTheCapWithoutGrowingMemory) {
    LoopbackHttpServer server(
        HttpReply{200, "", HttpReply::Kind::kEndless, "Content-Length: 104857600\r\n"});
    HttpLimits limits = ShortLimits();
    limits.maxAnswerBytes = HttpLimits{}.maxAnswerBytes;  // the version check's own cap
    std::ofstream("/proc/self/clear_refs") << "5";        // restart the peak count
    const long before = MemoryKb("VmRSS:");
    const Fetched f = Get(server.Root() + "/", limits);
    const long peak = MemoryKb("VmHWM:");
    EXPECT_TRUE(f.sent);
    EXPECT_FALSE(f.complete);
    EXPECT_LE(f.bytes.size(), limits.maxAnswerBytes);
    ASSERT_GT(before, 0);
    EXPECT_LT(peak - before, 24 * 1024) << "KiB over the resident size before the request";
}

TEST(HttpClientTest, AStopRequestEndsAWaitingRequestAtOnce) {
    HttpLimits patient;
    patient.stallTimeoutSeconds = 60;
    patient.totalTimeoutMs = 60000;
    for (auto kind : {HttpReply::Kind::kStall, HttpReply::Kind::kStallBody}) {
        LoopbackHttpServer server(HttpReply{200, "x", kind});
        std::atomic<bool> waiting{false};
        Fetched f;
        JFunctionThread worker([&] {
            waiting = true;
            f = Get(server.Root() + "/", patient);
        });
        ASSERT_TRUE(worker.Start());
        while (!waiting)
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const auto start = Clock::now();
        worker.RequestStop();
        ASSERT_TRUE(worker.Join(5000));
        EXPECT_LT(SecondsSince(start), 3.0);  // the request itself would wait 60 s
        EXPECT_FALSE(f.complete);
        EXPECT_EQ(f.bytes, "");
    }
}

}  // namespace
}  // namespace morix
