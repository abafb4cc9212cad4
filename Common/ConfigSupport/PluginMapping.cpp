#include "Common/ConfigSupport/PluginMapping.h"

#include <cstddef>

#include "Common/Headers/PrinterDescription.h"
#include "Tessary/StrToL.h"
#include "Tessary/TSException.h"
#include "Tessary/xerces-xmlparser/XercesXMLParser.h"

namespace {

const char* const kPrinterElement = "printer";

// A numeric attribute read like strtol with base 0; trailing text is ignored.
bool ReadId(const std::string& text, std::uint32_t& value) {
    std::size_t consumed = 0;
    value = static_cast<std::uint32_t>(Tessary::StrToL(text, &consumed, 0));
    return consumed != 0;
}

}  // namespace

Tessary::XercesXMLParsingState* PDConfigDocState::StartElement(const std::string& name,
                                                               const std::map<std::string, std::string>& attributes) {
    if (name == "velmo_pd_config" || name == "plugin") return this;
    if (name == kPrinterElement) {
        const std::string element = kPrinterElement;
        const auto vid = attributes.find("vid");
        const auto pid = attributes.find("pid");
        if (vid == attributes.end() || pid == attributes.end())
            TS_THROW_CODE(Tessary::ParserException, "Missing attribute on <" + element + "> element!", -1);
        PluginKey key;
        if (!ReadId(vid->second, key.first) || !ReadId(pid->second, key.second))
            TS_THROW_CODE(Tessary::ParserException, "Invalid attribute on <" + element + "> element!", -1);
        const auto added = plugins_.emplace(key, PluginData());
        if (!added.second)
            TS_THROW_CODE(Tessary::ParserException,
                          "Failed to add entry for <" + element + "> element (" + vid->second + "/" + pid->second + "!",
                          -1);
        current_ = &added.first->second;
        return this;
    }
    if (name == "name") {
        if (!current_) TS_THROW_CODE(Tessary::ParserException, "Unexpected state in <" + name + "> element", -1);
        return new Tessary::XMLStringSetState(&current_->name);
    }
    return nullptr;
}

Tessary::I8NString GetPluginMappingPath() {
    const std::u16string installPath = GetInstallPath();
    return Tessary::I8NString(installPath.c_str(), installPath.size()) + Tessary::I8NString("\\WinPluginMapping.xml");
}

bool LoadPluginMapping(const Tessary::I8NString& path, PluginMap& plugins) {
    return Tessary::CatchAtBorder<bool>(
        [&] {
            plugins.clear();
            PDConfigDocState document(plugins);
            Tessary::XercesXMLParser parser;
            return parser.ParseFile(path, &document);
        },
        [](const char*) { return false; });
}
