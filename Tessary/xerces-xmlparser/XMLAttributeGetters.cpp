#include "Tessary/xerces-xmlparser/XMLAttributeGetters.h"

#include "Tessary/StrToL.h"
#include "Tessary/TSException.h"

namespace Tessary {

namespace {

// The value, or null when the attribute is absent or empty.
const std::string* Find(const XMLAttributeMap& attributes, const std::string& name) {
    const auto it = attributes.find(name);
    if (it == attributes.end() || it->second.empty()) return nullptr;
    return &it->second;
}

[[noreturn]] void ThrowInvalid(const std::string& name) {
    TS_THROW(TSRuntimeError, "Invalid value for attribute '" + name + "'");
}

[[noreturn]] void ThrowMissingOrEmpty(const std::string& name) {
    TS_THROW(TSRuntimeError, "Missing/empty attribute '" + name + "'");
}

int ReadInt(const std::string& text, const std::string& name) {
    std::size_t consumed = 0;
    const int value = StrToL(text, &consumed);
    if (consumed == 0) ThrowInvalid(name);
    return value;
}

bool ReadBool(const std::string& text, const std::string& name) {
    if (text == "true") return true;
    if (text == "false") return false;
    ThrowInvalid(name);
}

}  // namespace

int GetRequiredIntAttribute(const XMLAttributeMap& attributes, const std::string& name) {
    const std::string* text = Find(attributes, name);
    if (!text) ThrowMissingOrEmpty(name);
    return ReadInt(*text, name);
}

bool GetRequiredBoolAttribute(const XMLAttributeMap& attributes, const std::string& name) {
    const std::string* text = Find(attributes, name);
    if (!text) ThrowMissingOrEmpty(name);
    return ReadBool(*text, name);
}

std::string GetRequiredStringAttribute(const XMLAttributeMap& attributes, const std::string& name) {
    const std::string* text = Find(attributes, name);
    if (!text) TS_THROW(TSRuntimeError, "Missing attribute '" + name + "'");
    return *text;
}

bool GetOptionalIntAttribute(const XMLAttributeMap& attributes, const std::string& name, int& value) {
    value = 0;
    const std::string* text = Find(attributes, name);
    if (!text) return false;
    value = ReadInt(*text, name);
    return true;
}

bool GetOptionalBoolAttribute(const XMLAttributeMap& attributes, const std::string& name, bool& value) {
    value = false;
    const std::string* text = Find(attributes, name);
    if (!text) return false;
    value = ReadBool(*text, name);
    return true;
}

bool GetOptionalStringAttribute(const XMLAttributeMap& attributes, const std::string& name, std::string& value) {
    const std::string* text = Find(attributes, name);
    if (!text) return false;
    value = *text;
    return true;
}

}  // namespace Tessary
