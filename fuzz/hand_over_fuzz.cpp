// The hand-over socket's byte stream: cutting it into messages, and the
// acceptance of path messages.
//
// Input: one byte that chooses how the stream arrives (its low four bits,
// plus one, are the size of the first piece; every later piece is one byte
// longer than the one before), then the stream.
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/start/hand_over_message.h"
#include "fuzz/fuzz_support.h"

using namespace morix::start;
using morix::fuzz::Check;

namespace {

std::uint32_t Word(std::string_view bytes, std::size_t at) {
    std::uint32_t value;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

// What the stream holds, read in one go: the whole messages before the first
// header that breaks it, and whether one does.
struct Expected {
    std::vector<std::string> messages;  // encoded, header included
    bool broken = false;
};

Expected ReadAtOnce(std::string_view stream) {
    Expected expected;
    while (stream.size() >= kHeaderBytes) {
        const std::uint32_t kind = Word(stream, 0);
        const std::uint32_t length = Word(stream, 12);
        if (kind < 1 || kind > 3 || length > kMaxDataBytes) {
            expected.broken = true;
            break;
        }
        if (stream.size() < kHeaderBytes + length) break;
        expected.messages.emplace_back(stream.substr(0, kHeaderBytes + length));
        stream.remove_prefix(kHeaderBytes + length);
    }
    return expected;
}

void CheckPath(const Message& message) {
    const std::optional<HandedPath> path = AcceptCopyData(message.tag, message.data);
    if (!path) return;
    Check(message.tag <= 1, "only tags 0 and 1 carry a path");
    Check(path->isFolder == (message.tag == 1), "tag 1 is a folder");
    Check(!path->path.empty() && path->path.front() == u'/', "a handed path is absolute");
    Check(path->path.find(u'\0') == std::u16string::npos, "a handed path holds no zero unit");
    Check((path->path.size() + 1) * 2 <= message.data.size(), "a handed path fits in its data");
    // The path sent again as its sender would: the same path comes out.
    // ("/" alone is too short to send: data of 4 bytes is refused.)
    if (path->path.size() < 2) return;
    const std::string again = EncodePath(path->path, path->isFolder);
    MessageReader reader;
    Check(reader.Feed(again), "an encoded path is a valid stream");
    const std::optional<Message> decoded = reader.Next();
    Check(decoded.has_value() && !reader.HasPartial(), "an encoded path is one whole message");
    const std::optional<HandedPath> same = AcceptCopyData(decoded->tag, decoded->data);
    Check(same && same->path == path->path && same->isFolder == path->isFolder,
          "an encoded path is accepted as the same path");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::size_t piece = (data[0] & 15) + 1;
    const std::string_view stream(reinterpret_cast<const char*>(data + 1), size - 1);
    const Expected expected = ReadAtOnce(stream);

    // Fed piece by piece, taking every whole message after each piece, as
    // the window does: the same messages, and the same break.
    MessageReader reader;
    std::vector<std::string> messages;
    bool fed = true;
    for (std::size_t at = 0; at < stream.size() && fed; at += piece, ++piece) {
        fed = reader.Feed(stream.substr(at, piece));
        while (std::optional<Message> message = reader.Next()) {
            Check(message->data.size() <= kMaxDataBytes, "no message is longer than the cap");
            Check(message->kind == MessageKind::kCopyData || message->kind == MessageKind::kClose ||
                      message->kind == MessageKind::kComeToFront,
                  "a message has a known kind");
            messages.push_back(EncodeMessage(*message));
            CheckPath(*message);
        }
        if (reader.Broken()) {
            Check(!reader.HasPartial() && !reader.Feed("x"), "a broken stream reads nothing more");
            fed = false;
        }
    }
    Check(messages == expected.messages, "pieces give the messages of the whole stream");
    Check(reader.Broken() == expected.broken, "pieces break where the whole stream breaks");
    if (!expected.broken) {
        std::size_t used = 0;
        for (const std::string& m : messages)
            used += m.size();
        Check(reader.HasPartial() == (used < stream.size()), "the rest of the stream is kept");
    }

    // Every data block taken as a path message's data on its own.
    for (std::uint64_t tag = 0; tag < 3; ++tag) {
        CheckPath(Message{MessageKind::kCopyData, tag, std::string(stream)});
    }
    return 0;
}
