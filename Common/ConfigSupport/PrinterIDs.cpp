#include "Common/ConfigSupport/PrinterIDs.h"

#include <cstddef>

#include "Common/Headers/PrinterDescription.h"
#include "Tessary/StrToL.h"
#include "Tessary/TSException.h"
#include "Tessary/xerces-xmlparser/XercesXMLParser.h"

namespace {

using Tessary::ParserException;
using Tessary::XercesXMLParsingState;
using Attributes = std::map<std::string, std::string>;

// The text of a name element, added to the group's map when it ends.
class NameState : public Tessary::XMLTextState {
public:
    NameState(PrinterIDMap& map, int id) : map_(map), id_(id) {}
    void EndElement() override {
        const std::string name = Text();
        if (!map_.emplace(name, id_).second)
            TS_THROW_CODE(ParserException, "Duplicate mapping identified for " + name, -1);
        SelfDestruct();
    }

private:
    PrinterIDMap& map_;
    int id_;
};

// One vendor or product: its names all map to its id.
class EntryState : public Tessary::XMLNoTextStateSelfDestruct {
public:
    EntryState(PrinterIDMap& map, int id) : map_(map), id_(id) {}
    XercesXMLParsingState* StartElement(const std::string& name, const Attributes&) override {
        if (name == "name") return new NameState(map_, id_);
        return nullptr;
    }

private:
    PrinterIDMap& map_;
    int id_;
};

// "vendor-ids" or "product-ids".
class GroupState : public Tessary::XMLNoTextStateSelfDestruct {
public:
    GroupState(PrinterIDMap& map, const char* entryName) : map_(map), entryName_(entryName) {}
    XercesXMLParsingState* StartElement(const std::string& name, const Attributes& attributes) override {
        if (name != entryName_) return nullptr;
        const auto id = attributes.find("id");
        std::size_t consumed = 0;
        const int value = id == attributes.end() ? 0 : Tessary::StrToL(id->second, &consumed, 0);
        if (consumed == 0)
            TS_THROW_CODE(ParserException, "Missing or invalid \"id\" value for the <" + name + "> element", -1);
        return new EntryState(map_, value);
    }

private:
    PrinterIDMap& map_;
    std::string entryName_;
};

class IdsState : public Tessary::XMLNoTextStateSelfDestruct {
public:
    IdsState(PrinterIDMap& manufacturers, PrinterIDMap& models) : manufacturers_(manufacturers), models_(models) {}
    XercesXMLParsingState* StartElement(const std::string& name, const Attributes&) override {
        if (name == "vendor-ids") return new GroupState(manufacturers_, "vendor");
        if (name == "product-ids") return new GroupState(models_, "product");
        return nullptr;
    }

private:
    PrinterIDMap& manufacturers_;
    PrinterIDMap& models_;
};

}  // namespace

XercesXMLParsingState* PrinterIDsDocumentState::StartElement(const std::string& name, const Attributes&) {
    if (name == "ids") return new IdsState(manufacturers_, models_);
    return nullptr;
}

Tessary::I8NString GetPrinterIDsPath() {
    const std::u16string installPath = GetInstallPath();
    return Tessary::I8NString(installPath.c_str(), installPath.size()) + Tessary::I8NString("\\ORVIDs.xml");
}

bool LoadPrinterIDs(const Tessary::I8NString& path, PrinterIDMap& manufacturers, PrinterIDMap& models) {
    return Tessary::CatchAtBorder<bool>(
        [&] {
            manufacturers.clear();
            models.clear();
            PrinterIDsDocumentState document(manufacturers, models);
            Tessary::XercesXMLParser parser;
            return parser.ParseFile(path, &document);
        },
        [](const char*) { return false; });
}
