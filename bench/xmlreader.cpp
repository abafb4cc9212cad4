// The state-stack XML reader against raw Xerces SAX with empty handlers, on
// a printer answer of a few KB and a printer description of about 1 MB.
// The reader's grammars build the small objects a real caller builds.
#include <benchmark/benchmark.h>

#include <cstdio>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>

#include "DocumentWriter.h"
#include "Tessary/StrToL.h"
#include "Tessary/xerces-xmlparser/XercesXMLParser.h"

using namespace Tessary;

namespace {

// ---- documents -------------------------------------------------------------

std::string MakeResponse() {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<dockConfig version=\"1.0\">";
    xml += "<getAllProfilesResponse status=\"0\">";
    for (int i = 1; i <= 8; ++i) {
        const std::string n = std::to_string(i);
        xml += "<profile id=\"" + n + "\" country=\"US\" domain=\"FCC\">";
        xml += "<profileName>Office network " + n + "</profileName>";
        xml += "<friendlyName>Front desk &amp; lobby " + n + "</friendlyName>";
        xml += "<qztDefaultHostID>HOST-" + n + "-0042</qztDefaultHostID>";
        xml += "<ipSettings automatic=\"false\"><ipAddress>192.168.1." + n +
               "</ipAddress><subnetMask>255.255.255.0</subnetMask><gateway>192.168.1.254</gateway></ipSettings>";
        xml += "<wifi mode=\"infrastructure\"><ssid>Velmo-" + n + "</ssid><channel>" + std::to_string(i % 11 + 1) +
               "</channel><security network=\"wpa-psk\" data=\"tkip\"><wpaPSKKey>passphrase-" + n +
               "</wpaPSKKey></security></wifi>";
        xml += "</profile>";
    }
    xml += "</getAllProfilesResponse></dockConfig>";
    return xml;
}

using BenchDocuments::Decimal;
using BenchDocuments::Writer;

std::string MakeDescription() {
    using std::to_string;
    Writer w;
    w.Open("printing", {{"version", "2"}});
    w.Open("papers");
    for (int p = 0; p < 500; ++p) {
        w.Open("paper", {{"id", to_string(p)}, {"resourceId", to_string(3000 + p)}, {"name", "Paper " + to_string(p)}});
        w.Open("sizes");
        for (int s = 0; s < 3; ++s) {
            w.Open("size", {{"units", "mm"}});
            w.Text("width", Decimal(101.6 + s));
            w.Text("height", Decimal(152.4 + p % 7));
            w.Close();
        }
        w.Close();
        w.Open("offsets");
        w.Open("offset", {{"units", "mm"}});
        w.Text("top", "1.5");
        w.Text("left", "2.25");
        w.Text("bottom", "1.5");
        w.Text("right", "2.25");
        w.Close();
        w.Close();
        w.Close();
    }
    w.Close();
    w.Open("printers");
    for (int m = 0; m < 120; ++m) {
        const std::string n = to_string(m);
        w.Open("printer", {{"vid", "0x3B7D"}, {"pid", to_string(0x100 + m)}});
        w.Text("icon", "printer" + n + ".ico");
        w.Open("names");
        w.Text("productname", "Glimmer " + n, {{"resourceId", to_string(5000 + m)}});
        w.Text("longname", "Glimmer photo printer " + n, {{"resourceId", "1"}});
        w.Text("shortname", "G" + n, {{"resourceId", "2"}});
        w.Close();
        w.Open("protocols");
        w.Leaf("usb");
        w.Leaf("network");
        w.Close();
        w.Open("paperRefs");
        for (int r = 0; r < 12; ++r) w.Leaf("paperRef", {{"id", to_string((m + r) % 500)}});
        w.Close();
        w.Open("mediaCapacities");
        for (int c = 0; c < 10; ++c) {
            w.Text("mediaCapacity", to_string(20 * (c + 1)), {{"capacityCodeFromPrinter", "0x" + to_string(10 + c)}});
        }
        w.Close();
        w.Open("customProperties");
        for (int c = 0; c < 6; ++c) w.Text("property", "value " + to_string(c * m), {{"name", "key" + to_string(c)}});
        w.Close();
        w.Open("heads", {{"default", "1"}});
        for (int h = 1; h <= 3; ++h) {
            w.Open("head", {{"id", to_string(h)}});
            w.Open("lutmodules");
            for (int l = 0; l < 8; ++l) w.Leaf("lutmodule", {{"name", "lut" + to_string(l)}, {"index", to_string(l)}});
            w.Close();
            w.Open("firmware-file-name-specs");
            w.Open("file-name-spec");
            w.Text("prefix", "fw" + n + "_");
            w.Text("extension", ".bin");
            w.Text("version-format", "2");
            w.Close();
            w.Close();
            w.Close();
        }
        w.Close();
        w.Open("lutnames", {{"default", "lut0"}});
        for (int l = 0; l < 8; ++l) w.Leaf("lut", {{"id", to_string(l)}, {"name", "Table " + to_string(l)}});
        w.Close();
        w.Open("donorMediaMappings");
        for (int d = 0; d < 12; ++d) {
            w.Open("donorMediaMapping");
            w.Text("idCode", to_string(d));
            w.Text("donor", to_string(d % 4));
            w.Text("media", to_string(d % 5));
            w.Close();
        }
        w.Close();
        w.Leaf("rotate", {{"enabled", "true"}});
        w.Leaf("firmware", {{"minimum", "1.2.3"}});
        w.Close();
    }
    w.Close();
    w.Close();
    return w.Xml();
}

// Made before any benchmark runs, so that no run pays for them.
const std::string g_response = MakeResponse();
const std::string g_description = MakeDescription();

const std::string& ResponseXml() {
    return g_response;
}
const std::string& DescriptionXml() {
    return g_description;
}

// ---- the answer's grammar ----------------------------------------------------

struct Profile {
    int id = 0;
    std::string country, domain, name, friendlyName, hostId, ssid, key, network, data;
    std::string ipAddress, subnetMask, gateway;
    bool automatic = true;
    int channel = 11;
    void SetName(const std::string& t) { name = t; }
    void SetFriendlyName(const std::string& t) { friendlyName = t; }
    void SetChannel(int c) { channel = c; }
};

class SecurityState : public XMLNoTextStateSelfDestruct {
public:
    explicit SecurityState(Profile& p) : p_(p) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap&) override {
        if (name == "wpaPSKKey") return new XMLStringSetState(&p_.key);
        return nullptr;
    }

private:
    Profile& p_;
};

class WifiState : public XMLNoTextStateSelfDestruct {
public:
    explicit WifiState(Profile& p) : p_(p) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap& a) override {
        if (name == "ssid") return new XMLStringSetState(&p_.ssid);
        if (name == "channel") return new XMLSetIntDataState<Profile, int>(&p_, &Profile::SetChannel);
        if (name == "security") {
            p_.network = GetRequiredStringAttribute(a, "network");
            p_.data = GetRequiredStringAttribute(a, "data");
            return new SecurityState(p_);
        }
        return nullptr;
    }

private:
    Profile& p_;
};

class IPState : public XMLNoTextStateSelfDestruct {
public:
    explicit IPState(Profile& p) : p_(p) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap&) override {
        if (name == "ipAddress") return new XMLStringSetState(&p_.ipAddress);
        if (name == "subnetMask") return new XMLStringSetState(&p_.subnetMask);
        if (name == "gateway") return new XMLStringSetState(&p_.gateway);
        return nullptr;
    }

private:
    Profile& p_;
};

class ProfileState : public XMLNoTextStateSelfDestruct {
public:
    explicit ProfileState(Profile& p) : p_(p) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap& a) override {
        if (name == "profileName") return new XMLSetStringDataState<Profile>(&p_, &Profile::SetName);
        if (name == "friendlyName") return new XMLSetStringDataState<Profile>(&p_, &Profile::SetFriendlyName);
        if (name == "qztDefaultHostID") return new XMLStringSetState(&p_.hostId);
        if (name == "ipSettings") {
            p_.automatic = GetRequiredBoolAttribute(a, "automatic");
            return new IPState(p_);
        }
        if (name == "wifi") return new WifiState(p_);
        return nullptr;
    }

private:
    Profile& p_;
};

class ProfileSetState : public XMLNoTextStateSelfDestruct {
public:
    explicit ProfileSetState(std::vector<Profile>& out) : out_(out) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap& a) override {
        if (name != "profile") TS_THROW(TSRuntimeError, "Unexpected element '" + name + "'");
        Profile& p = out_.emplace_back();
        p.id = GetRequiredIntAttribute(a, "id");
        GetOptionalStringAttribute(a, "country", p.country);
        p.domain = GetRequiredStringAttribute(a, "domain");
        return new ProfileState(p);
    }

private:
    std::vector<Profile>& out_;
};

class ResponseRootState : public XMLNoTextStateSelfDestruct {
public:
    explicit ResponseRootState(std::vector<Profile>& out) : out_(out) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap& a) override {
        if (name != "getAllProfilesResponse") return nullptr;
        int status = 0;
        GetOptionalIntAttribute(a, "status", status);
        return new ProfileSetState(out_);
    }

private:
    std::vector<Profile>& out_;
};

class ResponseDocumentState : public XMLNoTextState {
public:
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap&) override {
        if (name != "dockConfig") TS_THROW(TSRuntimeError, "Unexpected element '" + name + "'");
        return new ResponseRootState(profiles);
    }
    std::vector<Profile> profiles;
};

// ---- the description's grammar -----------------------------------------------

struct Paper {
    int id = 0, resourceId = 0;
    std::string name;
    std::vector<std::pair<double, double>> sizes;
    double offsets[4] = {};
};

struct Head {
    int id = 0;
    std::vector<std::string> luts;
    std::string prefix, extension;
    int versionFormat = 1;
};

struct Printer {
    int vid = 0, pid = 0;
    std::string icon, productName, longName, shortName;
    std::vector<std::string> protocols;
    std::vector<int> paperRefs;
    std::map<int, int> capacities;
    std::map<std::string, std::string> properties;
    std::vector<Head> heads;
    std::map<int, std::string> lutNames;
    std::map<int, std::pair<int, int>> donorMedia;
    bool rotate = false;
    void SetIcon(const std::string& t) { icon = t; }
};

struct Description {
    std::vector<Paper> papers;
    std::vector<Printer> printers;
};

// Reads its text as a float into a slot when the element ends.
class FloatSlotState : public XMLFloatState {
public:
    explicit FloatSlotState(double& slot) : slot_(slot) {}
    void EndElement() override {
        slot_ = StrToD(Text());
        XMLFloatState::EndElement();
    }

private:
    double& slot_;
};

class SizeState : public XMLNoTextStateSelfDestruct {
public:
    explicit SizeState(std::pair<double, double>& size) : size_(size) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap&) override {
        if (name == "width") return new FloatSlotState(size_.first);
        if (name == "height") return new FloatSlotState(size_.second);
        return nullptr;
    }

private:
    std::pair<double, double>& size_;
};

class SizeSetState : public XMLNoTextStateSelfDestruct {
public:
    explicit SizeSetState(Paper& paper) : paper_(paper) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap& a) override {
        if (name != "size") return nullptr;
        GetRequiredStringAttribute(a, "units");
        return new SizeState(paper_.sizes.emplace_back());
    }

private:
    Paper& paper_;
};

class OffsetState : public XMLNoTextStateSelfDestruct {
public:
    explicit OffsetState(Paper& paper) : paper_(paper) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap&) override {
        if (name == "top") return new FloatSlotState(paper_.offsets[0]);
        if (name == "left") return new FloatSlotState(paper_.offsets[1]);
        if (name == "bottom") return new FloatSlotState(paper_.offsets[2]);
        if (name == "right") return new FloatSlotState(paper_.offsets[3]);
        return nullptr;
    }

private:
    Paper& paper_;
};

class OffsetSetState : public XMLNoTextStateSelfDestruct {
public:
    explicit OffsetSetState(Paper& paper) : paper_(paper) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap& a) override {
        if (name != "offset") return nullptr;
        GetRequiredStringAttribute(a, "units");
        return new OffsetState(paper_);
    }

private:
    Paper& paper_;
};

class PaperState : public XMLNoTextStateSelfDestruct {
public:
    explicit PaperState(Paper& paper) : paper_(paper) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap&) override {
        if (name == "sizes") return new SizeSetState(paper_);
        if (name == "offsets") return new OffsetSetState(paper_);
        return nullptr;
    }

private:
    Paper& paper_;
};

class PaperSetState : public XMLNoTextStateSelfDestruct {
public:
    explicit PaperSetState(std::vector<Paper>& papers) : papers_(papers) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap& a) override {
        if (name != "paper") return nullptr;
        Paper& paper = papers_.emplace_back();
        paper.id = GetRequiredIntAttribute(a, "id");
        paper.resourceId = GetRequiredIntAttribute(a, "resourceId");
        paper.name = GetRequiredStringAttribute(a, "name");
        return new PaperState(paper);
    }

private:
    std::vector<Paper>& papers_;
};

class NamesState : public XMLNoTextStateSelfDestruct {
public:
    explicit NamesState(Printer& printer) : printer_(printer) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap& a) override {
        GetRequiredIntAttribute(a, "resourceId");
        if (name == "productname") return new XMLStringSetState(&printer_.productName);
        if (name == "longname") return new XMLStringSetState(&printer_.longName);
        if (name == "shortname") return new XMLStringSetState(&printer_.shortName);
        return nullptr;
    }

private:
    Printer& printer_;
};

class ProtocolsState : public XMLNoTextStateSelfDestruct {
public:
    explicit ProtocolsState(Printer& printer) : printer_(printer) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap&) override {
        if (name == "usb" || name == "network") printer_.protocols.push_back(name);
        return nullptr;
    }

private:
    Printer& printer_;
};

class PaperRefsState : public XMLNoTextStateSelfDestruct {
public:
    explicit PaperRefsState(Printer& printer) : printer_(printer) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap& a) override {
        if (name == "paperRef") printer_.paperRefs.push_back(GetRequiredIntAttribute(a, "id"));
        return nullptr;
    }

private:
    Printer& printer_;
};

class CapacityState : public XMLIntegerState<int> {
public:
    CapacityState(std::map<int, int>& table, int code) : table_(table), code_(code) {}
    void EndElement() override {
        table_[code_] = StrToL(Text());
        XMLIntegerState<int>::EndElement();
    }

private:
    std::map<int, int>& table_;
    int code_;
};

class CapacitySetState : public XMLNoTextStateSelfDestruct {
public:
    explicit CapacitySetState(Printer& printer) : printer_(printer) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap& a) override {
        if (name != "mediaCapacity") return nullptr;
        return new CapacityState(printer_.capacities, GetRequiredIntAttribute(a, "capacityCodeFromPrinter"));
    }

private:
    Printer& printer_;
};

class PropertyState : public XMLTextState {
public:
    PropertyState(std::map<std::string, std::string>& table, std::string name)
        : table_(table), name_(std::move(name)) {}
    void EndElement() override {
        table_[name_] = Text();
        XMLTextState::EndElement();
    }

private:
    std::map<std::string, std::string>& table_;
    std::string name_;
};

class PropertiesState : public XMLNoTextStateSelfDestruct {
public:
    explicit PropertiesState(Printer& printer) : printer_(printer) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap& a) override {
        std::string key;
        if (name != "property" || !GetOptionalStringAttribute(a, "name", key)) return nullptr;
        return new PropertyState(printer_.properties, std::move(key));
    }

private:
    Printer& printer_;
};

class LutSetState : public XMLNoTextStateSelfDestruct {
public:
    explicit LutSetState(Head& head) : head_(head) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap& a) override {
        if (name == "lutmodule") {
            head_.luts.push_back(GetRequiredStringAttribute(a, "name"));
            GetRequiredIntAttribute(a, "index");
        }
        return nullptr;
    }

private:
    Head& head_;
};

class SpecState : public XMLNoTextStateSelfDestruct {
public:
    explicit SpecState(Head& head) : head_(head) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap&) override {
        if (name == "prefix") return new XMLStringSetState(&head_.prefix);
        if (name == "extension") return new XMLStringSetState(&head_.extension);
        if (name == "version-format") return new XMLIntegerSetState<int>(&head_.versionFormat);
        return nullptr;
    }

private:
    Head& head_;
};

class SpecSetState : public XMLNoTextStateSelfDestruct {
public:
    explicit SpecSetState(Head& head) : head_(head) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap&) override {
        return name == "file-name-spec" ? new SpecState(head_) : nullptr;
    }

private:
    Head& head_;
};

class HeadState : public XMLNoTextStateSelfDestruct {
public:
    explicit HeadState(Head& head) : head_(head) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap&) override {
        if (name == "lutmodules") return new LutSetState(head_);
        if (name == "firmware-file-name-specs") return new SpecSetState(head_);
        return nullptr;
    }

private:
    Head& head_;
};

class HeadsState : public XMLNoTextStateSelfDestruct {
public:
    explicit HeadsState(Printer& printer) : printer_(printer) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap& a) override {
        if (name != "head") return nullptr;
        Head& head = printer_.heads.emplace_back();
        head.id = GetRequiredIntAttribute(a, "id");
        return new HeadState(head);
    }

private:
    Printer& printer_;
};

class LutNamesState : public XMLNoTextStateSelfDestruct {
public:
    explicit LutNamesState(Printer& printer) : printer_(printer) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap& a) override {
        if (name == "lut") printer_.lutNames[GetRequiredIntAttribute(a, "id")] = GetRequiredStringAttribute(a, "name");
        return nullptr;
    }

private:
    Printer& printer_;
};

class DonorMediaState : public XMLNoTextStateSelfDestruct {
public:
    explicit DonorMediaState(Printer& printer) : printer_(printer) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap&) override {
        if (name == "idCode") return new XMLIntegerSetState<int>(&idCode_);
        if (name == "donor") return new XMLIntegerSetState<int>(&donor_);
        if (name == "media") return new XMLIntegerSetState<int>(&media_);
        return nullptr;
    }
    void EndElement() override {
        printer_.donorMedia[idCode_] = {donor_, media_};
        XMLNoTextStateSelfDestruct::EndElement();
    }

private:
    Printer& printer_;
    int idCode_ = -1, donor_ = -1, media_ = -1;
};

class DonorMediaSetState : public XMLNoTextStateSelfDestruct {
public:
    explicit DonorMediaSetState(Printer& printer) : printer_(printer) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap&) override {
        return name == "donorMediaMapping" ? new DonorMediaState(printer_) : nullptr;
    }

private:
    Printer& printer_;
};

class PrinterState : public XMLNoTextStateSelfDestruct {
public:
    explicit PrinterState(Printer& printer) : printer_(printer) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap& a) override {
        if (name == "icon") return new XMLSetStringDataState<Printer>(&printer_, &Printer::SetIcon);
        if (name == "names") return new NamesState(printer_);
        if (name == "protocols") return new ProtocolsState(printer_);
        if (name == "paperRefs") return new PaperRefsState(printer_);
        if (name == "mediaCapacities") return new CapacitySetState(printer_);
        if (name == "customProperties") return new PropertiesState(printer_);
        if (name == "heads") {
            GetRequiredIntAttribute(a, "default");
            return new HeadsState(printer_);
        }
        if (name == "lutnames") {
            GetRequiredStringAttribute(a, "default");
            return new LutNamesState(printer_);
        }
        if (name == "donorMediaMappings") return new DonorMediaSetState(printer_);
        if (name == "rotate") GetOptionalBoolAttribute(a, "enabled", printer_.rotate);
        return nullptr;
    }

private:
    Printer& printer_;
};

class PrinterSetState : public XMLNoTextStateSelfDestruct {
public:
    explicit PrinterSetState(std::vector<Printer>& printers) : printers_(printers) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap& a) override {
        if (name != "printer") return nullptr;
        Printer& printer = printers_.emplace_back();
        printer.vid = GetRequiredIntAttribute(a, "vid");
        printer.pid = GetRequiredIntAttribute(a, "pid");
        return new PrinterState(printer);
    }

private:
    std::vector<Printer>& printers_;
};

class DescriptionRootState : public XMLNoTextStateSelfDestruct {
public:
    explicit DescriptionRootState(Description& out) : out_(out) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap&) override {
        if (name == "papers") return new PaperSetState(out_.papers);
        if (name == "printers") return new PrinterSetState(out_.printers);
        return nullptr;
    }

private:
    Description& out_;
};

class DescriptionDocumentState : public XMLNoTextState {
public:
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap&) override {
        if (name != "printing") TS_THROW(TSRuntimeError, "Unexpected element '" + name + "'");
        return new DescriptionRootState(description);
    }
    Description description;
};

// ---- benchmarks ----------------------------------------------------------------

// Takes every element and ignores it: what the reader costs by itself.
class IgnoringDocumentState : public XMLNoTextState {
public:
    XercesXMLParsingState* StartElement(const std::string&, const XMLAttributeMap&) override { return this; }
};

// The grammars must really have built their objects, or the run measured
// something else.
bool Built(const ResponseDocumentState& d) {
    return d.profiles.size() == 8 && d.profiles[7].ssid == "Velmo-8" && d.profiles[7].channel == 9 &&
           d.profiles[0].friendlyName == "Front desk & lobby 1" && !d.profiles[0].automatic;
}
bool Built(const DescriptionDocumentState& d) {
    const Description& x = d.description;
    return x.papers.size() == 500 && x.papers[499].sizes.size() == 3 && x.papers[0].offsets[3] == 2.25 &&
           x.printers.size() == 120 && x.printers[5].paperRefs.size() == 12 &&
           x.printers[5].capacities.at(0x17) == 160 && x.printers[5].heads.size() == 3 &&
           x.printers[5].heads[2].luts.size() == 8 && x.printers[5].heads[2].prefix == "fw5_" &&
           x.printers[5].donorMedia.at(11) == std::make_pair(3, 1) &&
           x.printers[5].properties.at("key2") == "value 10" && x.printers[119].rotate;
}
bool Built(const IgnoringDocumentState&) {
    return true;
}

// The document objects are destroyed outside the timed part: freeing what a
// caller built is the caller's business, not reading.
template <class DocumentState>
void ReaderBenchmark(benchmark::State& state, const std::string& xml) {
    XercesXMLParser parser;
    for (auto _ : state) {
        auto document = std::make_unique<DocumentState>();
        if (!parser.ParseBuffer(xml.data(), static_cast<unsigned>(xml.size()), document.get()) || !Built(*document)) {
            state.SkipWithError("parse failed");
            break;
        }
        benchmark::DoNotOptimize(document);
        state.PauseTiming();
        document.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(xml.size()));
}

// Raw Xerces as a plain caller uses it: one parser per document, handlers
// that do nothing.
void RawSaxBenchmark(benchmark::State& state, const std::string& xml) {
    XercesXMLParser::InitializePlatform();
    xercesc::HandlerBase handler;
    for (auto _ : state) {
        xercesc::SAXParser parser;
        parser.setDocumentHandler(&handler);
        parser.setErrorHandler(&handler);
        parser.setValidationScheme(xercesc::SAXParser::Val_Never);
        xercesc::MemBufInputSource source(reinterpret_cast<const XMLByte*>(xml.data()), xml.size(), "raw", false);
        parser.parse(source);
        if (parser.getErrorCount() != 0) {
            state.SkipWithError("parse failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(xml.size()));
}

// The same with one parser kept for every document: the cheapest raw Xerces
// can be, for reference.
void RawSaxReusedParserBenchmark(benchmark::State& state, const std::string& xml) {
    XercesXMLParser::InitializePlatform();
    xercesc::HandlerBase handler;
    xercesc::SAXParser parser;
    parser.setDocumentHandler(&handler);
    parser.setErrorHandler(&handler);
    parser.setValidationScheme(xercesc::SAXParser::Val_Never);
    for (auto _ : state) {
        xercesc::MemBufInputSource source(reinterpret_cast<const XMLByte*>(xml.data()), xml.size(), "raw", false);
        parser.parse(source);
        if (parser.getErrorCount() != 0) {
            state.SkipWithError("parse failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(xml.size()));
}

void BM_Reader_Response(benchmark::State& s) {
    ReaderBenchmark<ResponseDocumentState>(s, ResponseXml());
}
void BM_RawSax_Response(benchmark::State& s) {
    RawSaxBenchmark(s, ResponseXml());
}
void BM_RawSaxReused_Response(benchmark::State& s) {
    RawSaxReusedParserBenchmark(s, ResponseXml());
}
void BM_Reader_Description(benchmark::State& s) {
    ReaderBenchmark<DescriptionDocumentState>(s, DescriptionXml());
}
void BM_RawSax_Description(benchmark::State& s) {
    RawSaxBenchmark(s, DescriptionXml());
}
void BM_RawSaxReused_Description(benchmark::State& s) {
    RawSaxReusedParserBenchmark(s, DescriptionXml());
}
void BM_ReaderIgnoring_Description(benchmark::State& s) {
    ReaderBenchmark<IgnoringDocumentState>(s, DescriptionXml());
}

// One parse of each kind before timing starts, so that no run pays for the
// library's first-use work.
const bool g_warm = [] {
    XercesXMLParser parser;
    ResponseDocumentState document;
    parser.ParseBuffer(g_response.data(), static_cast<unsigned>(g_response.size()), &document);
    xercesc::HandlerBase handler;
    xercesc::SAXParser raw;
    raw.setDocumentHandler(&handler);
    xercesc::MemBufInputSource source(reinterpret_cast<const XMLByte*>(g_response.data()), g_response.size(), "raw",
                                      false);
    raw.parse(source);
    return true;
}();

BENCHMARK(BM_Reader_Response);
BENCHMARK(BM_RawSax_Response);
BENCHMARK(BM_RawSaxReused_Response);
BENCHMARK(BM_Reader_Description)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawSax_Description)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawSaxReused_Description)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReaderIgnoring_Description)->Unit(benchmark::kMillisecond);

}  // namespace
