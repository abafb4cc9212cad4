// Reading attributes in parse states. Integers read like 32-bit strtol with
// base 0 (hex, octal, trailing text ignored); booleans are exactly "true" or
// "false". Failures throw TSRuntimeError naming the attribute.
#pragma once

#include <map>
#include <string>

namespace Tessary {

using XMLAttributeMap = std::map<std::string, std::string>;

int GetRequiredIntAttribute(const XMLAttributeMap& attributes, const std::string& name);
bool GetRequiredBoolAttribute(const XMLAttributeMap& attributes, const std::string& name);
std::string GetRequiredStringAttribute(const XMLAttributeMap& attributes, const std::string& name);

// False when the attribute is absent or empty (value then 0 / false; the
// string is left alone); a present value that does not read still throws.
bool GetOptionalIntAttribute(const XMLAttributeMap& attributes, const std::string& name, int& value);
bool GetOptionalBoolAttribute(const XMLAttributeMap& attributes, const std::string& name, bool& value);
bool GetOptionalStringAttribute(const XMLAttributeMap& attributes, const std::string& name, std::string& value);

}  // namespace Tessary
