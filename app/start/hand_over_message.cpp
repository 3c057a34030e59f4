#include "app/start/hand_over_message.h"

#include <cstring>

namespace morix::start {
namespace {

template <typename T>
void Put(std::string& out, T value) {
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    out.append(bytes, sizeof(T));
}

template <typename T>
T Get(std::string_view bytes, std::size_t offset) {
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

bool KnownKind(std::uint32_t kind) {
    return kind == static_cast<std::uint32_t>(MessageKind::kCopyData) ||
           kind == static_cast<std::uint32_t>(MessageKind::kClose) ||
           kind == static_cast<std::uint32_t>(MessageKind::kComeToFront);
}

}  // namespace

std::string EncodeMessage(const Message& message) {
    std::string out;
    out.reserve(kHeaderBytes + message.data.size());
    Put(out, static_cast<std::uint32_t>(message.kind));
    Put(out, message.tag);
    Put(out, static_cast<std::uint32_t>(message.data.size()));
    out += message.data;
    return out;
}

std::string EncodePath(std::u16string_view path, bool isFolder) {
    Message message{MessageKind::kCopyData, isFolder ? 1u : 0u, {}};
    message.data.resize((path.size() + 1) * sizeof(char16_t), '\0');
    std::memcpy(message.data.data(), path.data(), path.size() * sizeof(char16_t));
    return EncodeMessage(message);
}

std::string EncodeResult(bool accepted) {
    std::string out;
    Put(out, static_cast<std::uint32_t>(accepted ? 1 : 0));
    return out;
}

bool DecodeResult(std::string_view bytes) {
    return bytes.size() >= kResultBytes && Get<std::uint32_t>(bytes, 0) == 1;
}

std::optional<HandedPath> AcceptCopyData(std::uint64_t tag, std::string_view data) {
    if (tag > 1 || data.size() < 5 || data.size() % 2 != 0) return std::nullopt;
    std::u16string units(data.size() / 2, u'\0');
    std::memcpy(units.data(), data.data(), data.size());
    if (units.back() != u'\0') return std::nullopt;
    units.resize(units.find(u'\0'));
    // The sender's working folder means nothing here: only absolute paths.
    if (units.empty() || units.front() != u'/') return std::nullopt;
    return HandedPath{std::move(units), tag == 1};
}

bool MessageReader::Feed(std::string_view bytes) {
    if (broken_) return false;
    buffer_.append(bytes);
    if (buffer_.size() >= kHeaderBytes) {
        if (!KnownKind(Get<std::uint32_t>(buffer_, 0)) ||
            Get<std::uint32_t>(buffer_, 12) > kMaxDataBytes) {
            broken_ = true;
            buffer_.clear();
        }
    }
    return !broken_;
}

std::optional<Message> MessageReader::Next() {
    if (broken_ || buffer_.size() < kHeaderBytes) return std::nullopt;
    const std::uint32_t length = Get<std::uint32_t>(buffer_, 12);
    if (buffer_.size() < kHeaderBytes + length) return std::nullopt;
    Message message{static_cast<MessageKind>(Get<std::uint32_t>(buffer_, 0)),
                    Get<std::uint64_t>(buffer_, 4), buffer_.substr(kHeaderBytes, length)};
    buffer_.erase(0, kHeaderBytes + length);
    // The header of the message that follows is checked as soon as it is whole.
    Feed({});
    return message;
}

}  // namespace morix::start
