// The messages that reach a running renamer on its socket.
//
// Every message is a 16-byte header - kind (32 bits), tag (64 bits), data
// length in bytes (32 bits), all in the machine's byte order - followed by
// the data. A path travels as it would in a copy-data message: tag 0 for a
// file, 1 for a folder whose files are to be added; the data is the path in
// UTF-16 with its terminating zero unit. The renamer answers a path and a
// come-to-front request with a 32-bit result (1 accepted, 0 refused) and a
// close request with nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace morix::start {

enum class MessageKind : std::uint32_t {
    kCopyData = 1,
    kClose = 2,
    kComeToFront = 3,
};

inline constexpr std::size_t kHeaderBytes = 16;
inline constexpr std::size_t kResultBytes = 4;
// Far above the longest path a Linux call takes (4096 bytes, at most as many
// UTF-16 units), and small enough that no peer can make the renamer hoard
// memory.
inline constexpr std::uint32_t kMaxDataBytes = 64 * 1024;

struct Message {
    MessageKind kind = MessageKind::kClose;
    std::uint64_t tag = 0;
    std::string data;
};

std::string EncodeMessage(const Message& message);
// A path message for path (tag 1 when isFolder).
std::string EncodePath(std::u16string_view path, bool isFolder);
std::string EncodeResult(bool accepted);
// The result in the first kResultBytes of bytes.
bool DecodeResult(std::string_view bytes);

// What a path message asks for, when it is acceptable: tag 0 or 1, at least
// 5 bytes of data, a whole number of UTF-16 units, the last unit 0, and a
// path (up to its first zero unit) that is absolute.
struct HandedPath {
    std::u16string path;
    bool isFolder = false;
};
std::optional<HandedPath> AcceptCopyData(std::uint64_t tag, std::string_view data);

// Cuts the byte stream of one connection into messages.
class MessageReader {
  public:
    // Takes the bytes that arrived. False once the stream is broken: a kind
    // this program does not know or data longer than kMaxDataBytes. Nothing
    // after a break is read.
    bool Feed(std::string_view bytes);
    // The next whole message, if one has arrived.
    std::optional<Message> Next();
    bool Broken() const { return broken_; }
    // Whether part of a message has arrived without its end.
    bool HasPartial() const { return !buffer_.empty(); }

  private:
    std::string buffer_;
    bool broken_ = false;
};

}  // namespace morix::start
