// The plug-in mapping document: which configuration plug-in serves a USB
// printer, by (vendor id, product id).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "Tessary/i8n/I8NString.h"
#include "Tessary/xerces-xmlparser/XercesXMLParsingState.h"

class PluginData {
public:
    PluginData() = default;
    PluginData(const PluginData&) = default;
    PluginData& operator=(const PluginData&) = default;
    virtual ~PluginData() = default;

    // The plug-in library's base name, without ".dll".
    std::string name;
};

using PluginKey = std::pair<std::uint32_t, std::uint32_t>;  // (vendor id, product id)
using PluginMap = std::map<PluginKey, PluginData>;

// The document's one state: the element names it knows are recognised at
// any depth, every other element is skipped. It is owned by the caller and
// fills the caller's map.
class PDConfigDocState : public Tessary::XMLNoTextState {
public:
    explicit PDConfigDocState(PluginMap& plugins) : plugins_(plugins) {}

    XercesXMLParsingState* StartElement(const std::string& name,
                                        const std::map<std::string, std::string>& attributes) override;

private:
    PluginMap& plugins_;
    PluginData* current_ = nullptr;  // the entry of the last printer read
};

// Install directory + "\WinPluginMapping.xml".
Tessary::I8NString GetPluginMappingPath();

// Replaces plugins with the mapping read from the document at path. False
// when the document cannot be read or breaks a rule; the entries read
// before the fault stay.
bool LoadPluginMapping(const Tessary::I8NString& path, PluginMap& plugins);
