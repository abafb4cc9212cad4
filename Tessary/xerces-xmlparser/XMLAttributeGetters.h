// Reading attributes in parse states. Integers read like 32-bit strtol with
// base 0 (hex, octal, trailing text ignored); booleans are exactly "true" or
// "false". Failures throw TSRuntimeError naming the attribute.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace Tessary {

using XMLAttributeMap = std::map<std::string, std::string>;

int GetRequiredIntAttribute(const XMLAttributeMap& attributes, std::string_view name);
bool GetRequiredBoolAttribute(const XMLAttributeMap& attributes, std::string_view name);
std::string GetRequiredStringAttribute(const XMLAttributeMap& attributes, std::string_view name);

// False when the attribute is absent or empty (value then 0 / false; the
// string is left alone); a present value that does not read still throws.
bool GetOptionalIntAttribute(const XMLAttributeMap& attributes, std::string_view name, int& value);
bool GetOptionalBoolAttribute(const XMLAttributeMap& attributes, std::string_view name, bool& value);
bool GetOptionalStringAttribute(const XMLAttributeMap& attributes, std::string_view name, std::string& value);

}  // namespace Tessary
