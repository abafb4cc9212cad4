#include "Simulators/DockPrinter/DockXml.h"

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/ErrorHandler.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/XMLException.hpp>

#include <algorithm>
#include <memory>

namespace Simulators::Dock {

namespace {

namespace xc = xercesc;

// Xerces stays initialised for the life of the process: a parse may run on
// any thread at any time, and terminating under it would be fatal.
void EnsureXerces() {
    static const bool ready = [] {
        xc::XMLPlatformUtils::Initialize();
        return true;
    }();
    (void)ready;
}

// Xerces hands out UTF-16; turn it into UTF-8 by hand so that no
// transcoder state is involved. Xerces has already refused unpaired
// surrogates in the input.
std::string ToUtf8(const XMLCh* text) {
    std::string out;
    if (text == nullptr) return out;
    for (const XMLCh* p = text; *p != 0; ++p) {
        char32_t c = *p;
        if (c >= 0xD800 && c <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(p[1]) - 0xDC00);
            ++p;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

class ThrowingErrorHandler : public xc::ErrorHandler {
public:
    void warning(const xc::SAXParseException&) override {}
    void error(const xc::SAXParseException& e) override { throw e; }
    void fatalError(const xc::SAXParseException& e) override { throw e; }
    void resetErrors() override {}
};

// The scanner's switch for refusing a DOCTYPE is only reachable from a
// derived parser.
class RequestParser : public xc::XercesDOMParser {
public:
    RequestParser() {
        setValidationScheme(Val_Never);
        setDoNamespaces(false);
        setDoSchema(false);
        setLoadExternalDTD(false);
        setDisableDefaultEntityResolution(true);
        setCreateEntityReferenceNodes(false);
        setCreateCommentNodes(false);
        getScanner()->setDisallowDTD(true);
        setErrorHandler(&errors_);
    }

private:
    ThrowingErrorHandler errors_;
};

constexpr int kMaxDepth = 32;

// Well-formed UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool IsUtf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const unsigned char c = *p;
        std::size_t n = 0;
        char32_t cp = 0;
        if (c < 0x80) {
            ++p;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            n = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (static_cast<std::size_t>(end - p) <= n) return false;
        for (std::size_t i = 1; i <= n; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        if ((n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        p += n + 1;
    }
    return true;
}

bool IsBlank(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; });
}

XmlElement Convert(const xc::DOMElement& element, int depth) {
    if (depth > kMaxDepth) throw XmlError("Elements nested too deeply");
    XmlElement out;
    out.name = ToUtf8(element.getTagName());
    if (const xc::DOMNamedNodeMap* attributes = element.getAttributes()) {
        for (XMLSize_t i = 0; i < attributes->getLength(); ++i) {
            const xc::DOMNode* attribute = attributes->item(i);
            out.attributes.emplace_back(ToUtf8(attribute->getNodeName()), ToUtf8(attribute->getNodeValue()));
        }
    }
    std::string text;
    for (const xc::DOMNode* child = element.getFirstChild(); child != nullptr; child = child->getNextSibling()) {
        switch (child->getNodeType()) {
            case xc::DOMNode::ELEMENT_NODE:
                out.children.push_back(Convert(*static_cast<const xc::DOMElement*>(child), depth + 1));
                break;
            case xc::DOMNode::TEXT_NODE:
            case xc::DOMNode::CDATA_SECTION_NODE:
                text += ToUtf8(child->getNodeValue());
                break;
            case xc::DOMNode::ENTITY_REFERENCE_NODE:
                throw XmlError("Entity reference in '" + out.name + "'");
            default:  // comments, processing instructions
                break;
        }
    }
    if (out.children.empty()) {
        out.text = std::move(text);
    } else if (!IsBlank(text)) {
        throw XmlError("Text beside elements in '" + out.name + "'");
    }
    return out;
}

}  // namespace

const std::string* XmlElement::Attribute(std::string_view attributeName) const {
    for (const auto& [key, value] : attributes)
        if (key == attributeName) return &value;
    return nullptr;
}

XmlElement ParseXml(std::string_view document) {
    if (!IsUtf8(document)) throw XmlError("Request is not UTF-8");
    EnsureXerces();
    RequestParser parser;
    xc::MemBufInputSource source(reinterpret_cast<const XMLByte*>(document.data()), document.size(), "request");
    // The dock speaks UTF-8 only, whatever a declaration claims.
    source.setEncoding(u"UTF-8");
    try {
        parser.parse(source);
    } catch (const xc::SAXParseException& e) {
        throw XmlError("Malformed XML at line " + std::to_string(e.getLineNumber()) + ", column " +
                       std::to_string(e.getColumnNumber()) + ": " + ToUtf8(e.getMessage()));
    } catch (const xc::XMLException& e) {
        throw XmlError("Malformed XML: " + ToUtf8(e.getMessage()));
    } catch (const xc::DOMException& e) {
        throw XmlError("Malformed XML: " + ToUtf8(e.getMessage()));
    } catch (const xc::OutOfMemoryException&) {
        throw XmlError("Out of memory while parsing");
    }
    const xc::DOMDocument* doc = parser.getDocument();
    if (doc == nullptr || doc->getDocumentElement() == nullptr) throw XmlError("No document element");
    if (doc->getDoctype() != nullptr) throw XmlError("Document type declarations are not accepted");
    return Convert(*doc->getDocumentElement(), 0);
}

std::string EscapeXml(std::string_view text, bool attribute) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            case '\r':
                out += "&#13;";
                break;
            case '\n':
                out += attribute ? "&#10;" : "\n";
                break;
            case '\t':
                out += attribute ? "&#9;" : "\t";
                break;
            default:
                out += c;
        }
    }
    return out;
}

void XmlWriter::Tag(std::string_view name, Attributes& attributes) {
    std::sort(attributes.begin(), attributes.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    out_ += '<';
    out_ += name;
    for (const auto& [key, value] : attributes) {
        out_ += ' ';
        out_ += key;
        out_ += "=\"";
        out_ += EscapeXml(value, true);
        out_ += '"';
    }
    out_ += '>';
}

void XmlWriter::LineEnd() {
    if (lineEnds_) out_ += '\n';
}

XmlWriter& XmlWriter::Start(std::string_view name, Attributes attributes) {
    Tag(name, attributes);
    open_.emplace_back(name);
    LineEnd();
    return *this;
}

XmlWriter& XmlWriter::End() {
    if (open_.empty()) throw std::logic_error("XmlWriter::End without an open element");
    out_ += "</";
    out_ += open_.back();
    out_ += '>';
    open_.pop_back();
    LineEnd();
    return *this;
}

XmlWriter& XmlWriter::TextElement(std::string_view name, std::string_view text, Attributes attributes) {
    Tag(name, attributes);
    out_ += EscapeXml(text, false);
    out_ += "</";
    out_ += name;
    out_ += '>';
    LineEnd();
    return *this;
}

XmlWriter& XmlWriter::EmptyElement(std::string_view name, Attributes attributes) {
    return TextElement(name, {}, std::move(attributes));
}

std::string XmlWriter::Take() {
    if (!open_.empty()) throw std::logic_error("XmlWriter::Take with open elements");
    return std::exchange(out_, {});
}

}  // namespace Simulators::Dock
