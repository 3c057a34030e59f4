#include "update/xml_reader.h"

#include "engine/text.h"

namespace morix {

namespace {

// A version answer is a handful of elements; nesting this deep only comes
// from a broken or hostile answer, and would otherwise exhaust the stack.
constexpr int kMaxDepth = 256;

const char16_t* SkipSpace(const char16_t* p) {
    while (*p != 0 && IsSpaceChar(*p))
        ++p;
    return p;
}

bool WhiteSpaceOnly(std::u16string_view s) {
    for (char16_t c : s) {
        if (!IsSpaceChar(c)) return false;
    }
    return true;
}

// Walks to the first unit for which stop() holds, or to the terminator. The
// escape character makes the unit after it ordinary.
template <typename Stop>
const char16_t* ScanEscaped(const char16_t* p, char16_t escape, Stop stop) {
    while (*p != 0 && !stop(*p)) {
        p += (*p == escape && p[1] != 0) ? 2 : 1;
    }
    return p;
}

// Whether marker starts at p, ignoring ASCII case; never looks past the
// terminator.
bool StartsWithNoCase(const char16_t* p, std::u16string_view marker) {
    for (std::size_t i = 0; i < marker.size(); ++i) {
        if (p[i] == 0 || AsciiLower(p[i]) != AsciiLower(marker[i])) return false;
    }
    return true;
}

bool StartsWith(const char16_t* p, std::u16string_view marker) {
    for (std::size_t i = 0; i < marker.size(); ++i) {
        if (p[i] == 0 || p[i] != marker[i]) return false;
    }
    return true;
}

// The first marker at or after p outside escapes; null when it never comes.
const char16_t* FindMarker(const char16_t* p, std::u16string_view marker, char16_t escape) {
    while (*p != 0) {
        if (*p == escape && p[1] != 0) {
            p += 2;
            continue;
        }
        if (StartsWithNoCase(p, marker)) return p;
        ++p;
    }
    return nullptr;
}

std::u16string DecodeEntities(std::u16string_view text, const XmlEntityTable& table) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        bool matched = false;
        for (const XmlEntity& entity : table) {
            const std::u16string& ref = entity.reference;
            if (!ref.empty() && text.compare(i, ref.size(), ref) == 0) {
                out += entity.character;
                i += ref.size();
                matched = true;
                break;
            }
        }
        if (!matched) out += text[i++];
    }
    return out;
}

bool IsElementNameEnd(char16_t c) {
    return c == u' ' || c == u'/' || c == u'>' || c == u'\t' || c == u'\r' || c == u'\n';
}

class Reader {
  public:
    explicit Reader(XmlParseOptions& options) : o_(options) {}

    const char16_t* Load(XmlNode& node, const char16_t* text);

  private:
    void Error(XmlErrorCode code, const char16_t* position, std::u16string message) {
        if (o_.errorOccurred) return;
        o_.errorOccurred = true;
        o_.errorPosition = position;
        o_.errorCode = code;
        o_.errorMessage = std::move(message);
    }

    // Copies [start, end) into target without unescaped escape characters
    // (trimmed first when asked), then decodes entities. An empty range
    // leaves target as it was.
    void Assign(std::u16string& target, const char16_t* start, const char16_t* end) {
        if (o_.trim) {
            while (start < end && IsSpaceChar(*start))
                ++start;
            while (end > start && IsSpaceChar(end[-1]))
                --end;
        }
        if (start == end) return;
        std::u16string text;
        text.reserve(static_cast<std::size_t>(end - start));
        for (const char16_t* p = start; p < end;) {
            if (*p == o_.escape) {
                if (p + 1 < end) text += p[1];
                p += 2;
            } else {
                text += *p++;
            }
        }
        if (o_.decodeEntities && o_.entities != nullptr) text = DecodeEntities(text, *o_.entities);
        target = std::move(text);
    }

    const char16_t* TextRun(std::u16string& value, const char16_t* p) {
        const char16_t* end = ScanEscaped(p, o_.escape, [](char16_t c) { return c == u'<'; });
        Assign(value, p, end);
        return end;
    }

    // A comment or CDATA section inside an element belongs to that element's
    // children; at the top it is dropped. True when it was kept.
    static bool KeepForParent(XmlNode& node, XmlNodeType type, const char16_t* name,
                              const char16_t* start, const char16_t* end) {
        if (node.parent == nullptr) return false;
        auto special = std::make_unique<XmlNode>(node.parent, type);
        special->name = name;
        special->value.assign(start, end);
        node.parent->children.push_back(std::move(special));
        return true;
    }

    const char16_t* OtherNodes(XmlNode& node, const char16_t* p, bool& consumedForParent);
    const char16_t* Attributes(XmlNode& node, const char16_t* p);

    XmlParseOptions& o_;
    int depth_ = 0;
};

const char16_t* Reader::OtherNodes(XmlNode& node, const char16_t* p, bool& consumedForParent) {
    static constexpr std::u16string_view kComment[] = {u"<!--", u"-->"};
    static constexpr std::u16string_view kCData[] = {u"<![CDATA[", u"]]>"};
    for (;;) {
        bool consumed = false;
        p = SkipSpace(p);
        if (StartsWithNoCase(p, u"<?")) {
            const char16_t* end = FindMarker(p + 2, u"?>", o_.escape);
            if (end == nullptr) return nullptr;
            p = end + 2;
            consumed = true;
        }
        p = SkipSpace(p);
        if (StartsWith(p, kComment[0])) {
            const char16_t* start = p + kComment[0].size();
            const char16_t* end = FindMarker(start, kComment[1], o_.escape);
            if (end == nullptr) return nullptr;
            p = end + kComment[1].size();
            if (KeepForParent(node, XmlNodeType::kComment, u"#COMMENT", start, end)) {
                consumedForParent = true;
                return p;
            }
            consumed = true;
        }
        p = SkipSpace(p);
        if (StartsWith(p, kCData[0])) {
            const char16_t* start = p + kCData[0].size();
            const char16_t* end = FindMarker(start, kCData[1], o_.escape);
            if (end == nullptr) return nullptr;
            p = end + kCData[1].size();
            if (KeepForParent(node, XmlNodeType::kCData, u"#CDATA", start, end)) {
                consumedForParent = true;
                return p;
            }
            consumed = true;
        }
        if (!consumed) return p;
    }
}

const char16_t* Reader::Attributes(XmlNode& node, const char16_t* p) {
    for (;;) {
        if (*p == 0) return nullptr;
        p = SkipSpace(p);
        if (*p == u'>' || *p == u'/') return p;
        const char16_t* nameStart = p;
        while (*p != 0 && *p != u' ' && *p != u'=')
            ++p;
        if (*p == 0) {
            Error(kXmlErrorBadAttribute, p, u"<" + node.name + u"> attribute has error ");
            return nullptr;
        }
        std::u16string ignored;
        std::u16string* value = &ignored;
        if (p > nameStart) {
            auto attribute = std::make_unique<XmlAttribute>();
            attribute->name.assign(nameStart, p);
            attribute->owner = &node;
            value = &attribute->value;
            node.attributes.push_back(std::move(attribute));
        }
        p = SkipSpace(p);
        if (*p != u'=') continue;
        p = SkipSpace(p + 1);
        if (*p == u'"' || *p == u'\'') {
            const char16_t quote = *p;
            const char16_t* start = p + 1;
            const char16_t* end =
                ScanEscaped(start, o_.escape, [quote](char16_t c) { return c == quote; });
            Assign(*value, start, end);
            p = *end != 0 ? end + 1 : end;
        } else {
            const char16_t* end =
                ScanEscaped(p, o_.escape, [](char16_t c) { return c == u' ' || c == u'>'; });
            Assign(*value, p, end);
            p = end;
        }
    }
}

const char16_t* Reader::Load(XmlNode& node, const char16_t* text) {
    node.Clear();
    node.name.clear();
    node.value.clear();
    if (text == nullptr) return nullptr;

    const char16_t* p = text;
    while (*p != 0 && *p != u'<')
        ++p;
    if (*p == 0) return nullptr;
    if (p[1] == u'/') return p;  // a closing tag of an enclosing element

    bool consumedForParent = false;
    p = OtherNodes(node, p, consumedForParent);
    if (p == nullptr) return nullptr;
    if (consumedForParent) return p;
    if (*p == 0) return nullptr;

    if (depth_ >= kMaxDepth) {
        Error(kXmlErrorTooDeep, p, u"Elements are nested too deeply.");
        return nullptr;
    }

    const char16_t* nameEnd = p + 1;
    while (*nameEnd != 0 && !IsElementNameEnd(*nameEnd))
        ++nameEnd;
    if (*nameEnd != 0 && nameEnd > p + 1) node.name.assign(p + 1, nameEnd);

    p = Attributes(node, nameEnd);
    if (p == nullptr) return nullptr;
    if (*p == u'/') {
        if (p[1] == u'>') return p + 2;
        Error(kXmlErrorUnclosedElement, p, u"Element must be closed.");
        return nullptr;
    }

    ++p;  // past '>'
    if (WhiteSpaceOnly(node.value)) p = TextRun(node.value, p);

    ++depth_;
    while (*p != 0) {
        auto child = std::make_unique<XmlNode>(&node, node.type);
        const char16_t* next = Load(*child, p);
        if (!child->name.empty()) node.children.push_back(std::move(child));
        if (next == nullptr) {
            --depth_;
            return nullptr;
        }
        p = next;

        if (p[0] == u'<' && p[1] == u'/') {
            const char16_t* closingStart = SkipSpace(p + 2);
            const char16_t* closingEnd = closingStart;
            while (*closingEnd != 0 && *closingEnd != u' ' && *closingEnd != u'>')
                ++closingEnd;
            if (*closingEnd == 0) {
                Error(kXmlErrorUnterminatedClosingTag, closingEnd,
                      u"it must be closed with </" + node.name + u">");
                --depth_;
                return nullptr;
            }
            const std::u16string_view closing(closingStart,
                                              static_cast<std::size_t>(closingEnd - closingStart));
            if (closing == node.name) {
                --depth_;
                return closingEnd + 1;
            }
            p = closingEnd + 1;
            if (!o_.forceParse) {
                Error(kXmlErrorMismatchedClosingTag, closingStart,
                      u"'<" + node.name + u"> ... </" + std::u16string(closing) +
                          u">' is not wel-formed.");
                --depth_;
                return nullptr;
            }
            continue;
        }
        // The cheap test first: the value can be a long blank run, and
        // scanning it again after every child made an answer of many
        // children take minutes.
        if (*p != u'<' && WhiteSpaceOnly(node.value)) p = TextRun(node.value, p);
    }
    --depth_;
    return p;  // the end of the text closes what is still open
}

}  // namespace

void XmlNode::Clear() {
    children.clear();
    attributes.clear();
}

const std::u16string* XmlNode::GetAttribute(std::u16string_view attributeName) const {
    for (const auto& attribute : attributes) {
        if (attribute->name == attributeName) return &attribute->value;
    }
    return nullptr;
}

const XmlNode* XmlNode::GetChildAt(std::size_t i) const {
    return i < children.size() ? children[i].get() : nullptr;
}

const XmlEntityTable& DefaultXmlEntities() {
    static const XmlEntityTable table = {
        {u'&', u"&amp;"}, {u'"', u"&quot;"}, {u'\'', u"&apos;"}, {u'<', u"&lt;"}, {u'>', u"&gt;"},
    };
    return table;
}

XmlParseOptions& DefaultXmlParseOptions() {
    static XmlParseOptions options;
    return options;
}

const char16_t* LoadElement(XmlNode& node, const char16_t* text, XmlParseOptions& options) {
    return Reader(options).Load(node, text);
}

}  // namespace morix
