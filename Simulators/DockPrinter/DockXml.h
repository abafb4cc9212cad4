// The dock's own XML handling: a request document read with the Xerces DOM
// parser into a small element tree, and a writer for the answers. It shares
// nothing with the host's reader or writer, so a mistake made on both sides
// shows up as a failed conversation.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Simulators::Dock {

// A request the dock cannot read: not well formed, a document type
// declaration, or not the shape it expects.
class XmlError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct XmlElement {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;  // document order
    std::vector<XmlElement> children;
    // Character data of an element without child elements, exactly as sent
    // (entity references resolved). White space between child elements is
    // dropped; other text beside child elements is an XmlError.
    std::string text;

    const std::string* Attribute(std::string_view attributeName) const;
};

// Parses UTF-8 (or self-declared) document bytes. Document type
// declarations, and with them every entity but the predefined ones, are
// refused.
XmlElement ParseXml(std::string_view document);

// Text and attribute values with markup characters, carriage returns and
// (in attributes) tabs and line ends written as references, so they come
// back exactly as they were.
std::string EscapeXml(std::string_view text, bool attribute);

// Builds an answer document: attributes in ascending order of their names,
// every value escaped once, empty elements as start and end tag.
class XmlWriter {
public:
    using Attributes = std::vector<std::pair<std::string, std::string>>;

    // With line ends, a line end follows every container start tag, every
    // text or empty element and every end tag.
    void SetLineEnds(bool on) { lineEnds_ = on; }
    XmlWriter& Start(std::string_view name, Attributes attributes = {});
    XmlWriter& End();
    XmlWriter& TextElement(std::string_view name, std::string_view text, Attributes attributes = {});
    XmlWriter& EmptyElement(std::string_view name, Attributes attributes = {});
    const std::string& Text() const { return out_; }
    std::string Take();

private:
    void Tag(std::string_view name, Attributes& attributes);
    void LineEnd();

    std::string out_;
    std::vector<std::string> open_;
    bool lineEnds_ = false;
};

}  // namespace Simulators::Dock
