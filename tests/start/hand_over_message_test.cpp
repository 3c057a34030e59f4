// The hand-over messages: which path messages the renamer accepts, and how a
// byte stream is cut into messages whatever pieces it arrives in.
#include "app/start/hand_over_message.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace morix::start {
namespace {

// Path data as a sender could write it: the units as given, no terminator added.
std::string Units(std::u16string_view units) {
    std::string out(units.size() * 2, '\0');
    std::memcpy(out.data(), units.data(), out.size());
    return out;
}

struct CopyDataCase {
    const char* what;
    std::uint64_t tag;
    std::string data;
    bool accepted;
    std::u16string path;
    bool isFolder;
};

void PrintTo(const CopyDataCase& c, std::ostream* os) {
    *os << c.what;
}

class CopyDataTable : public ::testing::TestWithParam<CopyDataCase> {};

TEST_P(CopyDataTable, AcceptsOnlyWellFormedPaths) {
    const CopyDataCase& c = GetParam();
    const std::optional<HandedPath> handed = AcceptCopyData(c.tag, c.data);
    ASSERT_EQ(handed.has_value(), c.accepted) << c.what;
    if (!handed) return;
    EXPECT_EQ(handed->path, c.path) << c.what;
    EXPECT_EQ(handed->isFolder, c.isFolder) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Messages, CopyDataTable,
    ::testing::Values(
        CopyDataCase{"file", 0, Units(std::u16string(u"/a/b.txt\0", 9)), true, u"/a/b.txt", false},
        CopyDataCase{"folder", 1, Units(std::u16string(u"/a\0", 3)), true, u"/a", true},
        CopyDataCase{"tag 2", 2, Units(std::u16string(u"/a/b\0", 5)), false, u"", false},
        CopyDataCase{"huge tag", 0x100000000ull, Units(std::u16string(u"/a/b\0", 5)), false, u"",
                     false},
        CopyDataCase{"no data", 0, "", false, u"", false},
        CopyDataCase{"4 bytes", 0, Units(std::u16string(u"/\0", 2)), false, u"", false},
        CopyDataCase{"odd length", 0, Units(std::u16string(u"/ab\0", 4)) + "x", false, u"", false},
        CopyDataCase{"last unit not 0", 0, Units(u"/a/b"), false, u"", false},
        CopyDataCase{"relative path", 0, Units(std::u16string(u"a/b\0", 4)), false, u"", false},
        CopyDataCase{"empty path", 0, Units(std::u16string(u"\0\0\0", 3)), false, u"", false},
        CopyDataCase{"ends at the first zero", 0, Units(std::u16string(u"/ab\0cd\0", 7)), true,
                     u"/ab", false},
        CopyDataCase{"lone surrogate of a non-UTF-8 byte", 0,
                     Units(std::u16string(u"/x\xDCFF\0", 4)), true, u"/x\xDCFF", false}));

std::vector<Message> ReadAll(MessageReader& reader) {
    std::vector<Message> out;
    while (std::optional<Message> m = reader.Next())
        out.push_back(std::move(*m));
    return out;
}

TEST(MessageReader, CutsTheStreamWhateverItsPieces) {
    const std::string stream = EncodePath(u"/one", false) + EncodePath(u"/two/\xDC80", true) +
                               EncodeMessage({MessageKind::kComeToFront, 0, {}}) +
                               EncodeMessage({MessageKind::kClose, 0, {}});
    for (std::size_t piece : {std::size_t{1}, std::size_t{7}, stream.size()}) {
        MessageReader reader;
        std::vector<Message> messages;
        for (std::size_t at = 0; at < stream.size(); at += piece) {
            ASSERT_TRUE(reader.Feed(std::string_view(stream).substr(at, piece)));
            for (Message& m : ReadAll(reader))
                messages.push_back(std::move(m));
        }
        ASSERT_EQ(messages.size(), 4u) << "pieces of " << piece;
        EXPECT_FALSE(reader.HasPartial());
        EXPECT_EQ(messages[0].kind, MessageKind::kCopyData);
        EXPECT_EQ(AcceptCopyData(messages[0].tag, messages[0].data)->path, u"/one");
        const std::optional<HandedPath> folder = AcceptCopyData(messages[1].tag, messages[1].data);
        ASSERT_TRUE(folder);
        EXPECT_EQ(folder->path, u"/two/\xDC80");
        EXPECT_TRUE(folder->isFolder);
        EXPECT_EQ(messages[2].kind, MessageKind::kComeToFront);
        EXPECT_EQ(messages[3].kind, MessageKind::kClose);
    }
}

TEST(MessageReader, PartialMessageWaitsForItsEnd) {
    const std::string message = EncodePath(u"/a/b", false);
    MessageReader reader;
    ASSERT_TRUE(reader.Feed(std::string_view(message).substr(0, message.size() - 1)));
    EXPECT_FALSE(reader.Next());
    EXPECT_TRUE(reader.HasPartial());
    ASSERT_TRUE(reader.Feed(std::string_view(message).substr(message.size() - 1)));
    EXPECT_TRUE(reader.Next());
}

TEST(MessageReader, BreaksOnUnknownKindOrOversizedDataAtOnce) {
    MessageReader unknown;
    EXPECT_FALSE(unknown.Feed(EncodeMessage({static_cast<MessageKind>(9), 0, "abcd"})));
    EXPECT_TRUE(unknown.Broken());
    EXPECT_FALSE(unknown.Next());

    // The header alone tells: the reader never waits for (or keeps) the data.
    Message big{MessageKind::kCopyData, 0, std::string(kMaxDataBytes + 2, 'x')};
    MessageReader oversized;
    EXPECT_FALSE(oversized.Feed(EncodeMessage(big).substr(0, kHeaderBytes)));
    EXPECT_FALSE(oversized.Feed("more"));
    EXPECT_FALSE(oversized.HasPartial());

    // The largest allowed message still passes.
    big.data.resize(kMaxDataBytes);
    MessageReader largest;
    EXPECT_TRUE(largest.Feed(EncodeMessage(big)));
    EXPECT_TRUE(largest.Next());

    // A bad header after a good message breaks the stream once it is reached.
    MessageReader later;
    EXPECT_TRUE(later.Feed(EncodePath(u"/a/b", false) +
                           EncodeMessage({static_cast<MessageKind>(0), 0, {}})));
    EXPECT_TRUE(later.Next());
    EXPECT_TRUE(later.Broken());
    EXPECT_FALSE(later.Next());
}

}  // namespace
}  // namespace morix::start
