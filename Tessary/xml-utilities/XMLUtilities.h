// Stream manipulators that write compact XML into any std::ostream: no
// prolog, no white space, attributes in ascending order of their names.
// Values are written as given; callers escape text with SubstituteCharacters.
//
//   out << XMLFormat(true) << XMLStartTag("root", {{"version", "1.0"}})
//       << XMLTextElement("name", value) << XMLEndTag;
#pragma once

#include "Tessary/i8n/I8NString.h"

#include <map>
#include <ostream>
#include <string>

namespace Tessary {

using XMLAttributes = std::map<std::string, std::string>;

// Sets the stream's XML format flag, which model objects read to choose
// between their XML and their readable text form.
class XMLFormat {
public:
    explicit XMLFormat(bool on) : on_(on) {}
    friend std::ostream& operator<<(std::ostream& stream, const XMLFormat& format);

private:
    bool on_;
};

bool IsXMLFormat(std::ios_base& stream);

// Writes <name a="v" ...> and remembers name as the stream's innermost open element.
class XMLStartTag {
public:
    explicit XMLStartTag(std::string name, XMLAttributes attributes = {})
        : name_(std::move(name)), attributes_(std::move(attributes)) {}
    friend std::ostream& operator<<(std::ostream& stream, const XMLStartTag& tag);

private:
    std::string name_;
    XMLAttributes attributes_;
};

// Closes the innermost open element of the stream; TSException
// "No start tag!" when none is open.
std::ostream& XMLEndTag(std::ostream& stream);

// Start tag, value and end tag in one step. The value is not owned: the
// element is meant to be built and inserted in one expression.
class XMLTextElement {
public:
    XMLTextElement(std::string name, const std::string& value, XMLAttributes attributes = {})
        : name_(std::move(name)), attributes_(std::move(attributes)), text_(&value) {}
    XMLTextElement(std::string name, const int& value, XMLAttributes attributes = {})
        : name_(std::move(name)), attributes_(std::move(attributes)), number_(&value) {}

    friend std::ostream& WriteXMLTextElement(std::ostream& stream, const XMLTextElement& element);

private:
    std::string name_;
    XMLAttributes attributes_;
    const std::string* text_ = nullptr;
    const int* number_ = nullptr;
};

std::ostream& WriteXMLTextElement(std::ostream& stream, const XMLTextElement& element);
inline std::ostream& operator<<(std::ostream& stream, const XMLTextElement& element) {
    return WriteXMLTextElement(stream, element);
}

// Objects with an XML form and a readable text form. Print picks one by the
// stream's format flag; nested objects print through Print too, so one flag
// switches a whole tree.
class XMLPrintable {
public:
    virtual ~XMLPrintable();
    virtual void PrintText(std::ostream& stream) const = 0;
    virtual void PrintXML(std::ostream& stream) const = 0;

    void Print(std::ostream& stream) const;

protected:
    XMLPrintable() = default;
    XMLPrintable(const XMLPrintable&) = default;
    XMLPrintable& operator=(const XMLPrintable&) = default;
};

// Text with & ' " < >, tab, line feed and carriage return replaced by their
// character references. Characters outside the BMP pass through; a lone
// surrogate unit throws TSLogicError.
I8NString SubstituteCharacters(const I8NString& text);

// UTF-8 form of a wide text; TSException when it is not valid UTF-16.
std::string ToUtf8String(const I8NString& text);

}  // namespace Tessary
