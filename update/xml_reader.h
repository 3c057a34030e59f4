// A small, forgiving reader for UTF-16 XML text, used for the version
// service's answers. It is not a conforming XML parser: backslash escapes
// work in text and attribute values, only five entities are known, a missing
// closing tag at the very end is accepted, and only the first error of the
// options record is kept. It never reads past the terminator of its text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace morix {

enum class XmlNodeType : std::int32_t {
    kElement = 0,
    kInstruction = 1,
    kComment = 2,
    kCData = 3,
    kDocument = 4,
};

class XmlNode;

struct XmlAttribute {
    std::u16string name;
    std::u16string value;
    XmlNode* owner = nullptr;
};

// A node: an element, or a comment ("#COMMENT") or CDATA section ("#CDATA")
// kept among its parent's children. Free-standing nodes have no document, so
// processing instructions are skipped, never stored.
class XmlNode {
  public:
    XmlNode() = default;
    XmlNode(XmlNode* parent, XmlNodeType type) : parent(parent), type(type) {}
    XmlNode(const XmlNode&) = delete;
    XmlNode& operator=(const XmlNode&) = delete;

    // Deletes the children and attributes.
    void Clear();

    // First attribute of that name (exact comparison); null when none.
    const std::u16string* GetAttribute(std::u16string_view attributeName) const;
    std::size_t ChildCount() const { return children.size(); }
    // Null when i is out of range.
    const XmlNode* GetChildAt(std::size_t i) const;

    std::u16string name;
    std::u16string value;
    XmlNode* parent = nullptr;
    std::vector<std::unique_ptr<XmlNode>> children;
    std::vector<std::unique_ptr<XmlAttribute>> attributes;
    XmlNodeType type = XmlNodeType::kElement;
};

struct XmlEntity {
    char16_t character;
    std::u16string reference;  // "&amp;" ...
};

using XmlEntityTable = std::vector<XmlEntity>;

// &amp; &quot; &apos; &lt; &gt;, in that order.
const XmlEntityTable& DefaultXmlEntities();

enum XmlErrorCode : std::int32_t {
    kXmlErrorNone = 0,
    kXmlErrorUnclosedElement = 1,
    kXmlErrorUnterminatedClosingTag = 2,
    kXmlErrorMismatchedClosingTag = 3,
    kXmlErrorBadAttribute = 4,
    kXmlErrorTooDeep = 5,  // more than 256 elements inside one another
};

struct XmlParseOptions {
    bool trim = false;  // white space at both ends of text and attribute values
    bool decodeEntities = true;
    const XmlEntityTable* entities = &DefaultXmlEntities();
    char16_t escape = u'\\';
    bool forceParse = false;  // accept a closing tag whose name does not match

    // The first error only; the reader never clears these.
    bool errorOccurred = false;
    const char16_t* errorPosition = nullptr;
    std::int32_t errorCode = kXmlErrorNone;
    std::u16string errorMessage;
};

// The process-wide default options. Their error fields keep the first error
// of any parse that used them.
XmlParseOptions& DefaultXmlParseOptions();

// Reads one element of the zero-terminated text into node (after clearing
// it). Returns the position after the element, or null on failure; the part
// of the tree read before a failure stays in the node.
const char16_t* LoadElement(XmlNode& node, const char16_t* text,
                            XmlParseOptions& options = DefaultXmlParseOptions());

}  // namespace morix
