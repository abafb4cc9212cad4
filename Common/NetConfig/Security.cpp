#include "Common/NetConfig/Security.h"

#include "Common/NetConfig/NetConfigXML.h"
#include "Tessary/TSException.h"

Security::~Security() = default;

// NullSecurity

void NullSecurity::PrintText(std::ostream& stream) const {
    stream << "{ No keys }";
}

void NullSecurity::PrintXML(std::ostream&) const {}

void NullSecurity::SetKey(int, const std::string&) {
    TS_THROW(Tessary::TSLogicError, "Can't add keys to NullSecurity objects");
}

std::unique_ptr<Security> NullSecurity::Clone() const {
    return std::make_unique<NullSecurity>(*this);
}

std::string NullSecurity::GetKey(int) const {
    TS_THROW(Tessary::TSLogicError, "Invalid key index");
}

// WepSecurity

WepSecurity::WepSecurity() : keys(kKeyCount) {}

void WepSecurity::PrintText(std::ostream& stream) const {
    stream << "{ WepSecurity: ";
    for (int n = 1; n <= kKeyCount; ++n) {
        if (n > 1) stream << ", ";
        stream << "key-" << n << '=';
        if (n <= static_cast<int>(keys.size())) stream << keys[n - 1];
    }
    stream << " }";
}

void WepSecurity::PrintXML(std::ostream& stream) const {
    using namespace NetConfigNames;
    stream << Tessary::XMLStartTag(kWepKeys, {{kAutomaticKeys, kFalse}}) << '\n';
    for (int n = 1; n <= kKeyCount; ++n) {
        const std::string key = n <= static_cast<int>(keys.size()) ? EscapeMarkup(keys[n - 1]) : std::string();
        stream << Tessary::XMLTextElement(kKey, key, {{kId, std::to_string(static_cast<unsigned>(n))}}) << '\n';
    }
    stream << Tessary::XMLEndTag << '\n';
}

void WepSecurity::SetKey(int index, const std::string& key) {
    if (index < 1 || index > kKeyCount) TS_THROW(Tessary::TSException, "Invalid key index");
    if (static_cast<int>(keys.size()) < index) keys.resize(index);
    keys[index - 1] = key;
}

std::unique_ptr<Security> WepSecurity::Clone() const {
    return std::make_unique<WepSecurity>(*this);
}

std::string WepSecurity::GetKey(int index) const {
    if (index < 1 || index > kKeyCount) TS_THROW(Tessary::TSLogicError, "Invalid key index");
    return index <= static_cast<int>(keys.size()) ? keys[index - 1] : std::string();
}

// WpaPskSecurity

void WpaPskSecurity::PrintText(std::ostream& stream) const {
    stream << " { WpaPskSecurity: wpaPSKKey=" << key << " }";
}

void WpaPskSecurity::PrintXML(std::ostream& stream) const {
    stream << Tessary::XMLTextElement(NetConfigNames::kWpaPSKKey, EscapeMarkup(key)) << '\n';
}

void WpaPskSecurity::SetKey(int, const std::string& value) {
    if (!key.empty()) TS_THROW(Tessary::TSException, "Key has already been set");
    key = value;
}

std::unique_ptr<Security> WpaPskSecurity::Clone() const {
    return std::make_unique<WpaPskSecurity>(*this);
}

std::string WpaPskSecurity::GetKey(int index) const {
    if (index < 0 || index >= GetKeyCount()) TS_THROW(Tessary::TSLogicError, "Invalid key index");
    return key;
}
