#include "Common/Source/PrinterStates.h"

#include <set>
#include <string>
#include <utility>

#include "PrinterDescriptionValues.h"
#include "Tessary/TSException.h"

using Tessary::XercesXMLParsingState;
using Attributes = std::map<std::string, std::string>;

// Vocabulary faults of the document. The extra number is unused (-1).
#define THROW_PARSER_EXCEPTION(message) TS_THROW_CODE(Tessary::ParserException, (message), -1)

namespace {

using PaperSet = std::set<PaperDefinition>;

const char kGenericFault[] = "An exception occurred";

// The value, or null when the attribute is absent.
const std::string* Find(const Attributes& attributes, const char* name) {
    const auto it = attributes.find(name);
    return it == attributes.end() ? nullptr : &it->second;
}

// The value when present and not empty, else null.
const std::string* FindNonEmpty(const Attributes& attributes, const char* name) {
    const std::string* value = Find(attributes, name);
    return value && !value->empty() ? value : nullptr;
}

// A required attribute of type integer A (absent, empty or no number: fault).
int RequiredIntegerA(const Attributes& attributes, const char* name) {
    int value = 0;
    const std::string* text = FindNonEmpty(attributes, name);
    if (!text || !PrinterDescription::ParseIntegerA(*text, value)) THROW_PARSER_EXCEPTION(kGenericFault);
    return value;
}

// A required boolean attribute, with the texts of the flag elements.
bool RequiredBoolean(const Attributes& attributes, const std::string& name) {
    const std::string* text = Find(attributes, name.c_str());
    if (!text) THROW_PARSER_EXCEPTION("Missing \"" + name + "\" attribute!");
    bool value = false;
    if (!PrinterDescription::ParseBoolean(*text, value)) {
        THROW_PARSER_EXCEPTION("Unexpected value for \"" + name + "\" (should be boolean)!");
    }
    return value;
}

// An optional lutmodule code: -1 when absent or empty.
int OptionalLutCode(const Attributes& attributes, const char* name) {
    const std::string* text = FindNonEmpty(attributes, name);
    if (!text) return -1;
    int value = 0;
    if (!PrinterDescription::ParseIntegerA(*text, value)) {
        TS_THROW(Tessary::TSRuntimeError, "Invalid value for attribute '" + std::string(name) + "'");
    }
    return value;
}

// Containers: text inside them is of no interest.
class TambaNoTextSD : public virtual XercesXMLParsingState, public Tessary::XMLStateSelfDestruct {
public:
    void Characters(const std::string&) override {}
};

// ---- papers ----------------------------------------------------------------

// width, height, top, bottom, left, right: one dimension slot of a paper.
class TambaPrinterAttributeState : public Tessary::XMLFloatState {
public:
    TambaPrinterAttributeState(PaperDefinition* paper, PaperDimension slot) : paper_(paper), slot_(slot) {}

    void EndElement() override {
        float value = 0;
        if (!PrinterDescription::ParseFloatF(Text(), value)) THROW_PARSER_EXCEPTION(kGenericFault);
        paper_->dimensions[slot_] = value;
        SelfDestruct();
    }

private:
    PaperDefinition* paper_;
    PaperDimension slot_;
};

class TambaSizeState : public TambaNoTextSD {
public:
    TambaSizeState(PaperDefinition* paper, PaperDimension width, PaperDimension height)
        : paper_(paper), width_(width), height_(height) {}

    XercesXMLParsingState* StartElement(const std::string& name, const Attributes&) override {
        if (name == "width") return new TambaPrinterAttributeState(paper_, width_);
        if (name == "height") return new TambaPrinterAttributeState(paper_, height_);
        return nullptr;
    }

private:
    PaperDefinition* paper_;
    PaperDimension width_;
    PaperDimension height_;
};

class TambaSizeSetState : public TambaNoTextSD {
public:
    explicit TambaSizeSetState(PaperDefinition* paper) : paper_(paper) {}

    XercesXMLParsingState* StartElement(const std::string& name, const Attributes& attributes) override {
        if (name != "size") return nullptr;
        const std::string* units = Find(attributes, "units");
        if (!units) THROW_PARSER_EXCEPTION(kGenericFault);
        PaperDimension width{}, height{};
        if (!PrinterDescription::SizeSlots(*units, width, height)) return nullptr;
        return new TambaSizeState(paper_, width, height);
    }

private:
    PaperDefinition* paper_;
};

class TambaOffsetState : public TambaNoTextSD {
public:
    explicit TambaOffsetState(PaperDefinition* paper) : paper_(paper) {}

    XercesXMLParsingState* StartElement(const std::string& name, const Attributes&) override {
        if (name == "top") return new TambaPrinterAttributeState(paper_, TopPoints);
        if (name == "left") return new TambaPrinterAttributeState(paper_, LeftPoints);
        if (name == "bottom") return new TambaPrinterAttributeState(paper_, BottomPoints);
        if (name == "right") return new TambaPrinterAttributeState(paper_, RightPoints);
        return nullptr;
    }

private:
    PaperDefinition* paper_;
};

class TambaOffsetSetState : public TambaNoTextSD {
public:
    explicit TambaOffsetSetState(PaperDefinition* paper) : paper_(paper) {}

    XercesXMLParsingState* StartElement(const std::string& name, const Attributes& attributes) override {
        if (name != "offset") return nullptr;
        const std::string* units = Find(attributes, "units");
        if (!units) THROW_PARSER_EXCEPTION(kGenericFault);
        // Margins exist in points only.
        if (*units != "points") return nullptr;
        return new TambaOffsetState(paper_);
    }

private:
    PaperDefinition* paper_;
};

class TambaPaperState : public TambaNoTextSD {
public:
    TambaPaperState(PaperDefinition paper, PaperSet* papers) : paper_(std::move(paper)), papers_(papers) {}

    XercesXMLParsingState* StartElement(const std::string& name, const Attributes&) override {
        if (name == "sizes") return new TambaSizeSetState(&paper_);
        if (name == "offsets") return new TambaOffsetSetState(&paper_);
        return nullptr;
    }

    void EndElement() override {
        if (!papers_->insert(paper_).second) {
            THROW_PARSER_EXCEPTION("Failed to add paper configuration to the current set!");
        }
        SelfDestruct();
    }

private:
    PaperDefinition paper_;
    PaperSet* papers_;
};

class TambaPaperSetState : public TambaNoTextSD {
public:
    explicit TambaPaperSetState(PaperSet* papers) : papers_(papers) {}

    XercesXMLParsingState* StartElement(const std::string& name, const Attributes& attributes) override {
        if (name != "paper") return nullptr;
        PaperDefinition paper;
        paper.id = RequiredIntegerA(attributes, "id");
        paper.resourceId = RequiredIntegerA(attributes, "resourceId");
        const std::string* paperName = FindNonEmpty(attributes, "name");
        if (!paperName) THROW_PARSER_EXCEPTION(kGenericFault);
        paper.name = *paperName;
        return new TambaPaperState(std::move(paper), papers_);
    }

private:
    PaperSet* papers_;
};

// ---- printer children --------------------------------------------------------

class TambaNamesState : public TambaNoTextSD {
public:
    explicit TambaNamesState(PrinterConfig* record) : record_(record) {}

    XercesXMLParsingState* StartElement(const std::string& name, const Attributes& attributes) override {
        using Setter = Tessary::XMLSetStringDataState<TambaNamesState>::Setter;
        int* resourceId = nullptr;
        Setter setter = nullptr;
        if (name == "productname") {
            resourceId = &record_->productNameResourceId;
            setter = &TambaNamesState::SetProductName;
        } else if (name == "longname") {
            resourceId = &record_->longNameResourceId;
            setter = &TambaNamesState::SetLongName;
        } else if (name == "shortname") {
            resourceId = &record_->shortNameResourceId;
            setter = &TambaNamesState::SetShortName;
        } else {
            return nullptr;
        }
        const std::string* text = Find(attributes, "resourceId");
        int value = 0;
        if (!text || !PrinterDescription::ParseIntegerB(*text, value)) {
            THROW_PARSER_EXCEPTION("No/invalid value for one or more attributes on <" + name + ">");
        }
        *resourceId = value;
        return new Tessary::XMLSetStringDataState<TambaNamesState>(this, setter);
    }

    void SetProductName(const std::string& text) { record_->productName = text; }
    void SetLongName(const std::string& text) { record_->longName = text; }
    void SetShortName(const std::string& text) { record_->shortName = text; }

private:
    PrinterConfig* record_;
};

class TambaProtocolsState : public TambaNoTextSD {
public:
    explicit TambaProtocolsState(PrinterConfig* record) : record_(record) {}

    XercesXMLParsingState* StartElement(const std::string& name, const Attributes& attributes) override {
        if (name == "usb") {
            const std::string* format = Find(attributes, "format");
            if (!format) ThrowMissing(name);
            const int formatCode = PrinterDescription::OutputFormatCode(*format);
            if (formatCode == 0) ThrowInvalid(name);
            record_->connections.push_back(boost::shared_ptr<ConnectionType>(new USBConnection(formatCode)));
        } else if (name == "network") {
            const std::string* format = Find(attributes, "format");
            const std::string* discovery = Find(attributes, "discovery-model");
            if (!format || !discovery) ThrowMissing(name);
            const int formatCode = PrinterDescription::OutputFormatCode(*format);
            const int discoveryCode = PrinterDescription::DiscoveryProtocolCode(*discovery);
            if (formatCode == 0 || discoveryCode == 0) ThrowInvalid(name);
            record_->connections.push_back(
                boost::shared_ptr<ConnectionType>(new NetworkConnection(formatCode, discoveryCode)));
        }
        return nullptr;
    }

private:
    [[noreturn]] static void ThrowMissing(const std::string& name) {
        THROW_PARSER_EXCEPTION("Missing one or more required attributes on <" + name + ">");
    }
    [[noreturn]] static void ThrowInvalid(const std::string& name) {
        THROW_PARSER_EXCEPTION("No/invalid value for one or more attributes on <" + name + ">");
    }

    PrinterConfig* record_;
};

class TambaPrinterPapersState : public TambaNoTextSD {
public:
    TambaPrinterPapersState(PrinterConfig* record, const PaperSet* papers) : record_(record), papers_(papers) {}

    XercesXMLParsingState* StartElement(const std::string& name, const Attributes& attributes) override {
        if (name != "paperRef") return nullptr;
        const std::string* idText = Find(attributes, "paperId");
        if (!idText) THROW_PARSER_EXCEPTION("Missing \"paperId\" attribute!");
        PaperDefinition key;
        if (!PrinterDescription::ParseIntegerA(*idText, key.id)) {
            THROW_PARSER_EXCEPTION("Unexpected \"paperId\" attribute value (should be integer)!");
        }
        const auto paper = papers_->find(key);
        if (paper == papers_->end()) THROW_PARSER_EXCEPTION("Paper ID is unknown!");
        record_->papers.insert(*paper);

        if (const std::string* sendAs = Find(attributes, "sendToPrinterAs")) {
            int number = 0;
            if (!PrinterDescription::ParseIntegerA(*sendAs, number)) {
                THROW_PARSER_EXCEPTION("Unexpected \"sendToPrinterAs\" attribute value (should be integer)!");
            }
            record_->sendToPrinterAs.insert({key.id, number});
        }
        if (const std::string* reported = Find(attributes, "sizeReportedByPrinterAs")) {
            record_->paperIdsByReportedSize.insert({*reported, key.id});
        }
        return nullptr;
    }

private:
    PrinterConfig* record_;
    const PaperSet* papers_;
};

class TambaMediaSizeState : public Tessary::XMLIntegerState<int> {
public:
    TambaMediaSizeState(std::string element, std::string code, std::map<std::string, int>* table)
        : element_(std::move(element)), code_(std::move(code)), table_(table) {}

    void EndElement() override {
        int capacity = 0;
        if (!PrinterDescription::ParseIntegerA(Text(), capacity)) {
            THROW_PARSER_EXCEPTION("Invalid data for a <" + element_ + "> element");
        }
        table_->insert({code_, capacity});
        SelfDestruct();
    }

private:
    std::string element_;
    std::string code_;
    std::map<std::string, int>* table_;
};

// Each mediaCapacities element brings a whole table: the last one counts.
class TambaMediaSizeSetState : public TambaNoTextSD {
public:
    explicit TambaMediaSizeSetState(PrinterConfig* record) : record_(record) {}

    XercesXMLParsingState* StartElement(const std::string& name, const Attributes& attributes) override {
        if (name != "mediaCapacity") return nullptr;
        const std::string* code = FindNonEmpty(attributes, "capacityCodeFromPrinter");
        if (!code) THROW_PARSER_EXCEPTION("Missing \"capacityCodeFromPrinter\" attribute!");
        return new TambaMediaSizeState(name, *code, &table_);
    }

    void EndElement() override {
        record_->mediaCapacities.swap(table_);
        SelfDestruct();
    }

private:
    PrinterConfig* record_;
    std::map<std::string, int> table_;
};

class TambaCustomPropertyState : public Tessary::XMLTextState {
public:
    TambaCustomPropertyState(PrinterConfig* record, std::string name) : record_(record), name_(std::move(name)) {}

    void EndElement() override {
        record_->customProperties.insert({name_, Text()});
        SelfDestruct();
    }

private:
    PrinterConfig* record_;
    std::string name_;
};

class TambaCustomPropertiesSetState : public TambaNoTextSD {
public:
    explicit TambaCustomPropertiesSetState(PrinterConfig* record) : record_(record) {}

    XercesXMLParsingState* StartElement(const std::string& name, const Attributes& attributes) override {
        if (name != "property") return nullptr;
        const std::string* propertyName = FindNonEmpty(attributes, "name");
        if (!propertyName) return nullptr;
        return new TambaCustomPropertyState(record_, *propertyName);
    }

private:
    PrinterConfig* record_;
};

class TambaLutSetState : public TambaNoTextSD {
public:
    explicit TambaLutSetState(HeadDefinition* head) : head_(head) {}

    XercesXMLParsingState* StartElement(const std::string& name, const Attributes& attributes) override {
        if (name != "lutmodule") return nullptr;
        const std::string* lutRef = Find(attributes, "lutref");
        const std::string* moduleName = Find(attributes, "name");
        if (!lutRef || !moduleName) {
            THROW_PARSER_EXCEPTION("No/invalid value for LUT or module name in <" + name + ">");
        }
        LutModule module;
        module.lutRef = *lutRef;
        module.name = *moduleName;
        module.donor = OptionalLutCode(attributes, "donor");
        module.media = OptionalLutCode(attributes, "media");
        head_->luts.push_back(std::move(module));
        return nullptr;
    }

private:
    HeadDefinition* head_;
};

class TambaFirmwareNameSpecState : public TambaNoTextSD {
public:
    explicit TambaFirmwareNameSpecState(HeadDefinition* head) : head_(head) {}

    XercesXMLParsingState* StartElement(const std::string& name, const Attributes&) override {
        if (name == "prefix") return new Tessary::XMLStringSetState(&spec_.prefix);
        if (name == "extension") return new Tessary::XMLStringSetState(&spec_.extension);
        if (name == "version-format") return new Tessary::XMLIntegerSetState<int>(&spec_.versionFormat);
        return nullptr;
    }

    // A file-name spec that names nothing is dropped.
    void EndElement() override {
        if (!spec_.prefix.empty() || !spec_.extension.empty()) head_->firmwareNameSpecs.push_back(spec_);
        SelfDestruct();
    }

private:
    HeadDefinition* head_;
    FirmwareNameSpec spec_;
};

class TambaFirmwareNameSpecSetState : public TambaNoTextSD {
public:
    explicit TambaFirmwareNameSpecSetState(HeadDefinition* head) : head_(head) {}

    XercesXMLParsingState* StartElement(const std::string& name, const Attributes&) override {
        if (name != "file-name-spec") return nullptr;
        return new TambaFirmwareNameSpecState(head_);
    }

private:
    HeadDefinition* head_;
};

class TambaHeadDefinitionState : public TambaNoTextSD {
public:
    TambaHeadDefinitionState(PrinterConfig* record, std::string id) : record_(record), head_(std::move(id)) {}

    XercesXMLParsingState* StartElement(const std::string& name, const Attributes&) override {
        if (name == "lutmodules") return new TambaLutSetState(&head_);
        if (name == "firmware-file-name-specs") return new TambaFirmwareNameSpecSetState(&head_);
        return nullptr;
    }

    // A later head with the same id replaces the earlier one.
    void EndElement() override {
        const std::string id = head_.id;
        record_->heads[id] = std::move(head_);
        SelfDestruct();
    }

private:
    PrinterConfig* record_;
    HeadDefinition head_;
};

class TambaHeadsState : public TambaNoTextSD {
public:
    explicit TambaHeadsState(PrinterConfig* record) : record_(record) {}

    XercesXMLParsingState* StartElement(const std::string& name, const Attributes& attributes) override {
        if (name != "head") return nullptr;
        const std::string* id = Find(attributes, "id");
        if (!id) THROW_PARSER_EXCEPTION("No/invalid value for name on <" + name + ">");
        return new TambaHeadDefinitionState(record_, *id);
    }

private:
    PrinterConfig* record_;
};

class TambaLutNamesState : public TambaNoTextSD {
public:
    explicit TambaLutNamesState(PrinterConfig* record) : record_(record) {}

    XercesXMLParsingState* StartElement(const std::string& name, const Attributes& attributes) override {
        if (name != "lut") return nullptr;
        const std::string* id = Find(attributes, "id");
        const std::string* resourceText = Find(attributes, "resourceId");
        int resourceId = 0;
        if (!id || !resourceText || !PrinterDescription::ParseIntegerB(*resourceText, resourceId)) {
            THROW_PARSER_EXCEPTION("No/invalid value for one or more attributes on <" + name + ">");
        }
        record_->lutNames.insert({*id, resourceId});
        return nullptr;
    }

private:
    PrinterConfig* record_;
};

class TambaDonorMediaMappingState : public TambaNoTextSD {
public:
    TambaDonorMediaMappingState(PrinterConfig* record, std::string element)
        : record_(record), element_(std::move(element)) {}

    XercesXMLParsingState* StartElement(const std::string& name, const Attributes&) override {
        if (name == "idCode") return new Tessary::XMLIntegerSetState<int>(&idCode_);
        if (name == "donor") return new Tessary::XMLIntegerSetState<int>(&donor_);
        if (name == "media") return new Tessary::XMLIntegerSetState<int>(&media_);
        return nullptr;
    }

    void EndElement() override {
        if (!record_->donorMediaMappings.insert({idCode_, {donor_, media_}}).second) {
            THROW_PARSER_EXCEPTION("Invalid data for a <" + element_ + "> element");
        }
        SelfDestruct();
    }

private:
    PrinterConfig* record_;
    std::string element_;
    int idCode_ = -1;
    int donor_ = -1;
    int media_ = -1;
};

class TambaDonorMediaMappingSetState : public TambaNoTextSD {
public:
    explicit TambaDonorMediaMappingSetState(PrinterConfig* record) : record_(record) {}

    XercesXMLParsingState* StartElement(const std::string& name, const Attributes&) override {
        if (name != "donorMediaMapping") return nullptr;
        return new TambaDonorMediaMappingState(record_, name);
    }

private:
    PrinterConfig* record_;
};

// ---- printers ----------------------------------------------------------------

// Int form of a support flag: 1 true, 0 false.
int SupportFlag(const Attributes& attributes) {
    return RequiredBoolean(attributes, "supported") ? 1 : 0;
}

class TambaPrinterState : public TambaNoTextSD {
public:
    TambaPrinterState(PrinterConfig record, std::vector<PrinterConfig>* printers, const PaperSet* papers)
        : record_(std::move(record)), printers_(printers), papers_(papers) {}

    XercesXMLParsingState* StartElement(const std::string& name, const Attributes& attributes) override {
        if (name == "icon")
            return new Tessary::XMLSetStringDataState<TambaPrinterState>(this, &TambaPrinterState::SetIcon);
        if (name == "names") return new TambaNamesState(&record_);
        if (name == "protocols") return new TambaProtocolsState(&record_);
        if (name == "paperRefs") return new TambaPrinterPapersState(&record_, papers_);
        if (name == "mediaCapacities") return new TambaMediaSizeSetState(&record_);
        if (name == "customProperties") return new TambaCustomPropertiesSetState(&record_);
        if (name == "heads") {
            record_.defaultHead = RequiredDefault(attributes);
            return new TambaHeadsState(&record_);
        }
        if (name == "lutnames") {
            record_.defaultLut = RequiredDefault(attributes);
            return new TambaLutNamesState(&record_);
        }
        if (name == "donorMediaMappings") return new TambaDonorMediaMappingSetState(&record_);

        // Read from their attributes alone; whatever they hold is skipped.
        if (name == "rotate") {
            record_.rotate = 2;
        } else if (name == "drag-and-drop") {
            record_.dragAndDropSupported = SupportFlag(attributes);
        } else if (name == "firmware-crc-verify") {
            record_.firmwareCrcVerifySupported = SupportFlag(attributes);
        } else if (name == "mediaRemaining") {
            record_.mediaRemainingSupported = SupportFlag(attributes);
        } else if (name == "firmware") {
            record_.stripVersionBytes = RequiredBoolean(attributes, "stripVersionBytes");
            record_.requiresReboot = RequiredBoolean(attributes, "requires-reboot");
        }
        return nullptr;
    }

    void EndElement() override {
        printers_->push_back(std::move(record_));  // the state dies next
        SelfDestruct();
    }

    void SetIcon(const std::string& text) { record_.icon = text; }

private:
    static std::string RequiredDefault(const Attributes& attributes) {
        const std::string* value = Find(attributes, "default");
        if (!value) THROW_PARSER_EXCEPTION(kGenericFault);
        return *value;
    }

    PrinterConfig record_;
    std::vector<PrinterConfig>* printers_;
    const PaperSet* papers_;
};

class TambaPrinterSetState : public TambaNoTextSD {
public:
    TambaPrinterSetState(std::vector<PrinterConfig>* printers, const PaperSet* papers)
        : printers_(printers), papers_(papers) {}

    XercesXMLParsingState* StartElement(const std::string& name, const Attributes& attributes) override {
        if (name != "printer") return nullptr;
        const int vid = RequiredIntegerA(attributes, "vid");
        const int pid = RequiredIntegerA(attributes, "pid");
        return new TambaPrinterState(PrinterConfig(static_cast<unsigned>(vid), static_cast<unsigned>(pid)), printers_,
                                     papers_);
    }

private:
    std::vector<PrinterConfig>* printers_;
    const PaperSet* papers_;
};

// velmo_printing: owns the document's paper set for the length of the parse.
class TambaRootState : public TambaNoTextSD {
public:
    explicit TambaRootState(std::vector<PrinterConfig>* printers) : printers_(printers) {}

    XercesXMLParsingState* StartElement(const std::string& name, const Attributes&) override {
        if (name == "printers") return new TambaPrinterSetState(printers_, &papers_);
        if (name == "papers") return new TambaPaperSetState(&papers_);
        return nullptr;
    }

private:
    std::vector<PrinterConfig>* printers_;
    PaperSet papers_;
};

}  // namespace

XercesXMLParsingState* TambaDocumentState::StartElement(const std::string& name, const Attributes&) {
    if (name != "velmo_printing") return nullptr;
    return new TambaRootState(printers_);
}
