// The XML reader on answers of the version service.
//
// Input: one byte of reader options (bit 0 trim, 1 keep entities, 2 accept
// mismatched closing tags, 3 the next byte is the escape character, 4 a
// table of one-character entities), then the answer in UTF-8.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/text.h"
#include "fuzz/fuzz_support.h"
#include "update/xml_reader.h"

using namespace morix;
using morix::fuzz::Check;

namespace {

// The tree holds together: parents, owners, names of the node kinds.
void CheckTree(const XmlNode& node, int depth) {
    Check(depth <= 258, "the tree is no deeper than the reader's limit");
    for (const auto& attribute : node.attributes) {
        Check(attribute->owner == &node, "an attribute belongs to its element");
        Check(!attribute->name.empty(), "an attribute has a name");
        Check(node.GetAttribute(attribute->name) != nullptr, "an attribute is found by its name");
    }
    for (std::size_t i = 0; i < node.ChildCount(); ++i) {
        const XmlNode* child = node.GetChildAt(i);
        Check(child != nullptr && child->parent == &node, "a child's parent is its element");
        switch (child->type) {
            case XmlNodeType::kComment:
                Check(child->name == u"#COMMENT", "a comment is named #COMMENT");
                break;
            case XmlNodeType::kCData:
                Check(child->name == u"#CDATA", "a CDATA section is named #CDATA");
                break;
            default:
                Check(!child->name.empty(), "a kept element has a name");
                break;
        }
        CheckTree(*child, depth + 1);
    }
    Check(node.GetChildAt(node.ChildCount()) == nullptr, "no child past the last");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t flags = data[0];
    std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    XmlParseOptions options;
    options.trim = (flags & 1) != 0;
    options.decodeEntities = (flags & 2) == 0;
    options.forceParse = (flags & 4) != 0;
    if ((flags & 8) != 0 && !bytes.empty()) {
        options.escape = static_cast<unsigned char>(bytes[0]);
        bytes.remove_prefix(1);
    }
    static const XmlEntityTable shortEntities = {{u'+', u"&"}, {u'=', u""}, {u'<', u"&&"}};
    if ((flags & 16) != 0) options.entities = &shortEntities;

    // Exactly as long as the text and its terminator, so that a read past
    // the terminator is caught.
    const std::u16string decoded = DecodeFileName(bytes);
    std::vector<char16_t> text(decoded.begin(), decoded.end());
    text.push_back(u'\0');
    const char16_t* begin = text.data();
    std::size_t terminator = 0;
    while (begin[terminator] != 0)
        ++terminator;

    XmlNode root;
    const char16_t* end = LoadElement(root, begin, options);
    Check(end == nullptr || (end >= begin && end <= begin + terminator),
          "the reader stops inside its text");
    if (options.errorOccurred) {
        Check(options.errorCode > kXmlErrorNone && options.errorCode <= kXmlErrorTooDeep,
              "an error has a known code");
        Check(!options.errorMessage.empty(), "an error has a message");
        Check(options.errorPosition >= begin && options.errorPosition <= begin + terminator,
              "an error's position lies in the text");
        Check(end == nullptr, "a reported error fails the read");
    } else {
        Check(options.errorCode == kXmlErrorNone, "no error code without an error");
    }
    Check(root.parent == nullptr, "the root has no parent");
    CheckTree(root, 0);

    // The reader is a function of its text: a second read gives the same
    // result at the same place.
    XmlParseOptions again = options;
    again.errorOccurred = false;
    XmlNode second;
    Check(LoadElement(second, begin, again) == end, "a second read ends at the same place");
    Check(second.name == root.name && second.ChildCount() == root.ChildCount() &&
              second.attributes.size() == root.attributes.size() && second.value == root.value,
          "a second read gives the same element");
    return 0;
}
