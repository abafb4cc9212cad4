#include "Tessary/xml-utilities/XMLUtilities.h"

#include "Tessary/TSException.h"
#include "Tessary/i8n/UTFConversion.h"

#include <climits>
#include <list>
#include <new>
#include <string_view>

namespace Tessary {

namespace {

// Names of the elements opened on one stream and not closed yet, innermost last.
using OpenElements = std::list<std::string>;

// One slot of every stream's extensible storage: the integer word is the
// format flag, the pointer word the stream's OpenElements.
int XMLFormatSlot() {
    static const int slot = std::ios_base::xalloc();
    return slot;
}

OpenElements* GetOpenElements(std::ios_base& stream) {
    return static_cast<OpenElements*>(stream.pword(XMLFormatSlot()));
}

// The stream owns its OpenElements. copyfmt copies the pointer word and this
// callback, so the copy gets a list of its own instead of sharing one.
void OpenElementsEvent(std::ios_base::event event, std::ios_base& stream, int slot) {
    void*& word = stream.pword(slot);
    switch (event) {
        case std::ios_base::erase_event:
            delete static_cast<OpenElements*>(word);
            word = nullptr;
            break;
        case std::ios_base::copyfmt_event:
            if (word != nullptr) {
                const auto* shared = static_cast<OpenElements*>(word);
                word = nullptr;
                word = new (std::nothrow) OpenElements(*shared);
            }
            break;
        default:
            break;
    }
}

OpenElements& OpenElementsFor(std::ios_base& stream) {
    void*& word = stream.pword(XMLFormatSlot());
    if (word == nullptr) {
        word = new OpenElements;
        stream.register_callback(OpenElementsEvent, XMLFormatSlot());
    }
    return *static_cast<OpenElements*>(word);
}

void WriteStartTag(std::ostream& stream, const std::string& name, const XMLAttributes& attributes) {
    OpenElementsFor(stream).push_back(name);
    stream << '<' << name;
    for (const auto& [attribute, value] : attributes) stream << ' ' << attribute << "=\"" << value << '"';
    stream << '>';
}

struct Substitution {
    char16_t character;
    std::u16string_view replacement;
};

// Tab, line feed and carriage return too: a reader turns a carriage return
// in text into a line feed, and all three in an attribute into blanks.
constexpr Substitution kSubstitutions[] = {
    {u'&', u"&amp;"}, {u'\'', u"&#39;"}, {u'"', u"&quot;"}, {u'<', u"&lt;"},
    {u'>', u"&gt;"},  {u'\t', u"&#9;"},  {u'\n', u"&#10;"}, {u'\r', u"&#13;"},
};

const Substitution* FindSubstitution(char16_t c) {
    for (const auto& s : kSubstitutions) {
        if (s.character == c) return &s;
    }
    return nullptr;
}

bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

}  // namespace

std::ostream& operator<<(std::ostream& stream, const XMLFormat& format) {
    stream.iword(XMLFormatSlot()) = format.on_ ? 1 : 0;
    return stream;
}

bool IsXMLFormat(std::ios_base& stream) {
    return stream.iword(XMLFormatSlot()) != 0;
}

std::ostream& operator<<(std::ostream& stream, const XMLStartTag& tag) {
    WriteStartTag(stream, tag.name_, tag.attributes_);
    return stream;
}

std::ostream& XMLEndTag(std::ostream& stream) {
    OpenElements* open = GetOpenElements(stream);
    if (open == nullptr || open->empty()) TS_THROW(TSException, "No start tag!");
    stream << "</" << open->back() << '>';
    open->pop_back();
    return stream;
}

std::ostream& WriteXMLTextElement(std::ostream& stream, const XMLTextElement& element) {
    WriteStartTag(stream, element.name_, element.attributes_);
    if (element.text_ != nullptr) {
        stream << *element.text_;
    } else if (element.number_ != nullptr) {
        stream << *element.number_;
    }
    return XMLEndTag(stream);
}

XMLPrintable::~XMLPrintable() = default;

void XMLPrintable::Print(std::ostream& stream) const {
    if (IsXMLFormat(stream)) {
        PrintXML(stream);
    } else {
        PrintText(stream);
    }
}

I8NString SubstituteCharacters(const I8NString& text) {
    const char16_t* in = text.c_str();
    const std::size_t length = text.length();
    std::u16string out;
    try {
        out.reserve(length);
        for (std::size_t i = 0; i < length; ++i) {
            const char16_t c = in[i];
            // A whole surrogate pair is one character outside the table.
            if (IsHighSurrogate(c) && i + 1 < length && IsLowSurrogate(in[i + 1])) {
                out.append(in + i, 2);
                ++i;
            } else if (const Substitution* s = FindSubstitution(c)) {
                out.append(s->replacement);
            } else if (c >= 0xD800 && c <= 0xDFFF) {
                TS_THROW(TSLogicError, "Character concatenation is not supported for surrogate pairs");
            } else {
                out.push_back(c);
            }
        }
    } catch (const std::bad_alloc&) {
        TS_THROW(TSBadAlloc, "Couldn't allocate expanded string buffer");
    }
    return I8NString(out.data(), out.size());
}

std::string ToUtf8String(const I8NString& text) {
    const std::size_t length = text.length();
    if (length > INT_MAX) TS_THROW(TSException, "Can't convert string");
    return UTF16ToUTF8String(text.c_str(), static_cast<int>(length));
}

}  // namespace Tessary
