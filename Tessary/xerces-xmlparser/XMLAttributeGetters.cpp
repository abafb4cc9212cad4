#include "Tessary/xerces-xmlparser/XMLAttributeGetters.h"

#include "Tessary/StrToL.h"
#include "Tessary/TSException.h"

namespace Tessary {

namespace {

// The value, or null when the attribute is absent or empty. Elements carry
// a handful of attributes, so a scan beats making a key for find().
const std::string* Find(const XMLAttributeMap& attributes, std::string_view name) {
    const std::string* value = nullptr;
    if (attributes.size() <= 8) {
        for (const auto& [key, text] : attributes) {
            if (key == name) {
                value = &text;
                break;
            }
        }
    } else {
        const auto it = attributes.find(std::string(name));
        if (it != attributes.end()) value = &it->second;
    }
    return value && !value->empty() ? value : nullptr;
}

[[noreturn]] void ThrowInvalid(std::string_view name) {
    TS_THROW(TSRuntimeError, "Invalid value for attribute '" + std::string(name) + "'");
}

[[noreturn]] void ThrowMissingOrEmpty(std::string_view name) {
    TS_THROW(TSRuntimeError, "Missing/empty attribute '" + std::string(name) + "'");
}

int ReadInt(const std::string& text, std::string_view name) {
    std::size_t consumed = 0;
    const int value = StrToL(text, &consumed);
    if (consumed == 0) ThrowInvalid(name);
    return value;
}

bool ReadBool(const std::string& text, std::string_view name) {
    if (text == "true") return true;
    if (text == "false") return false;
    ThrowInvalid(name);
}

}  // namespace

int GetRequiredIntAttribute(const XMLAttributeMap& attributes, std::string_view name) {
    const std::string* text = Find(attributes, name);
    if (!text) ThrowMissingOrEmpty(name);
    return ReadInt(*text, name);
}

bool GetRequiredBoolAttribute(const XMLAttributeMap& attributes, std::string_view name) {
    const std::string* text = Find(attributes, name);
    if (!text) ThrowMissingOrEmpty(name);
    return ReadBool(*text, name);
}

std::string GetRequiredStringAttribute(const XMLAttributeMap& attributes, std::string_view name) {
    const std::string* text = Find(attributes, name);
    if (!text) TS_THROW(TSRuntimeError, "Missing attribute '" + std::string(name) + "'");
    return *text;
}

bool GetOptionalIntAttribute(const XMLAttributeMap& attributes, std::string_view name, int& value) {
    value = 0;
    const std::string* text = Find(attributes, name);
    if (!text) return false;
    value = ReadInt(*text, name);
    return true;
}

bool GetOptionalBoolAttribute(const XMLAttributeMap& attributes, std::string_view name, bool& value) {
    value = false;
    const std::string* text = Find(attributes, name);
    if (!text) return false;
    value = ReadBool(*text, name);
    return true;
}

bool GetOptionalStringAttribute(const XMLAttributeMap& attributes, std::string_view name, std::string& value) {
    const std::string* text = Find(attributes, name);
    if (!text) return false;
    value = *text;
    return true;
}

}  // namespace Tessary
