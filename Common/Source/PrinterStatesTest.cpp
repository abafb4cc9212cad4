#include "Common/Source/PrinterStates.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <typeinfo>

#include "Common/Source/PrinterTestSupport.h"
#include "PrinterDescription.h"
#include "Tessary/TSException.h"
#include "Tessary/xerces-xmlparser/XercesXMLParser.h"

using PrinterTest::PathText;
using Tessary::XercesXMLParsingState;

namespace {

// ---- documents ---------------------------------------------------------------

const char kPapers[] = R"(
  <papers>
    <paper id="1" resourceId="3001" name="4x6">
      <sizes>
        <size units="inches"><width>4.0</width><height>6</height></size>
        <size units="pixels"><width>1200</width><height>1800</height><depth>3</depth></size>
        <size units="mm_tenths"><width>1016.5</width><height>1524</height></size>
        <size units="points"><width>bad</width></size>
        <size units="inches"><width>4.25</width></size>
        <unknown><width>bad</width></unknown>
      </sizes>
      <offsets>
        <offset units="points"><top>1.5</top><bottom>2</bottom><left>3.25</left><right>4</right></offset>
        <offset units="inches"><top>bad</top></offset>
      </offsets>
      <colour>red</colour>
    </paper>
    <paper id="0x2" resourceId="010" name="5x7" comment="ignored"/>
  </papers>)";

// Every element kind the reader knows, with the rules that are easy to get
// wrong, plus unknown elements at every level.
const std::string kRichDocument = std::string(R"(<?xml version="1.0" encoding="UTF-8"?>
<velmo_printing>
  <notes><printers><printer vid="bad"/></printers></notes>)") +
                                  kPapers + R"(
  <papers>
    <paper id="3" resourceId="3003" name="Sticker"><sizes><size units="inches"><width>8.5</width><height>11</height></size></sizes></paper>
  </papers>
  <printers>
    <printer vid="0x3B7D" pid="0x0001" model="ignored">
      <names>
        <productname resourceId="1001">Glimmer Dock &#x2014; J&#xFC;rgen</productname>
        <longname resourceId=" 1002abc">Velmo Glimmer Dock</longname>
        <shortname resourceId="-3"></shortname>
        <nickname resourceId="bad">x</nickname>
      </names>
      <icon>dock.ico</icon>
      <rotate degrees="90"><anything>at all</anything></rotate>
      <drag-and-drop supported="true"/>
      <firmware-crc-verify supported="false"/>
      <mediaRemaining supported="true"><child/></mediaRemaining>
      <firmware stripVersionBytes="true" requires-reboot="false"/>
      <protocols>
        <usb format="jpeg"/>
        <network format="cmy-cmd-planar" discovery-model="rendezvous"/>
        <bluetooth format="bad"/>
        <network format="jpeg" discovery-model="udp-mw"><usb/></network>
      </protocols>
      <paperRefs>
        <paperRef paperId="0x2" sendToPrinterAs="0x20" sizeReportedByPrinterAs="5x7"/>
        <paperRef paperId="1" sizeReportedByPrinterAs="4x6"/>
        <paperRef paperId="2" sendToPrinterAs="99" sizeReportedByPrinterAs="5x7"/>
        <paperRef paperId="3" sendToPrinterAs="3" sizeReportedByPrinterAs="4x6"/>
        <paperRef paperId="1" sendToPrinterAs="1"/>
      </paperRefs>
      <mediaCapacities>
        <mediaCapacity capacityCodeFromPrinter="OLD">5</mediaCapacity>
      </mediaCapacities>
      <mediaCapacities>
        <mediaCapacity capacityCodeFromPrinter="A">20</mediaCapacity>
        <mediaCapacity capacityCodeFromPrinter="B">0x28 sheets</mediaCapacity>
        <mediaCapacity capacityCodeFromPrinter="A">99</mediaCapacity>
        <other capacityCodeFromPrinter="">1</other>
      </mediaCapacities>
      <customProperties>
        <property name="resetBluetooth">true</property>
        <property name="spaced">  two  words  </property>
        <property name="resetBluetooth">false</property>
        <property>no name</property>
        <property name="">empty name</property>
        <property name="empty"></property>
        <setting name="x">y</setting>
      </customProperties>
      <heads default="H2">
        <head id="H1">
          <lutmodules><lutmodule lutref="natural" name="h1_old"/></lutmodules>
        </head>
        <head id="H2">
          <lutmodules>
            <lutmodule lutref="natural" name="h2_natural" donor="" media=""/>
            <lutmodule lutref="natural" name="h2_sticker" donor="0x3" media="7"/>
            <lutmodule lutref="natural" name="h2_natural"/>
            <lutmodule lutref="" name=""/>
            <lut lutref="x"/>
          </lutmodules>
          <firmware-file-name-specs>
            <file-name-spec><prefix>GD_</prefix><extension>.fw</extension><version-format>2</version-format></file-name-spec>
            <file-name-spec><prefix></prefix><extension></extension><version-format>5</version-format></file-name-spec>
            <file-name-spec><extension>.bin</extension></file-name-spec>
            <file-name-spec><prefix>X_</prefix><version-format>abc</version-format><size>1</size></file-name-spec>
            <file-name-spec/>
          </firmware-file-name-specs>
        </head>
        <head id="H1">
          <firmware-file-name-specs>
            <file-name-spec><prefix>H1_</prefix></file-name-spec>
          </firmware-file-name-specs>
        </head>
        <head id=""/>
      </heads>
      <lutnames default="natural">
        <lut id="natural" resourceId="601"/>
        <lut id="vivid" resourceId=" 602x"/>
        <lut id="natural" resourceId="700"/>
      </lutnames>
      <donorMediaMappings>
        <donorMediaMapping><idCode>1</idCode><donor>2</donor><media>3</media></donorMediaMapping>
        <donorMediaMapping><idCode>0x10</idCode><media>abc</media><note>x</note></donorMediaMapping>
        <donorMediaMapping><donor>4</donor></donorMediaMapping>
      </donorMediaMappings>
      <extra><names><productname resourceId="1">Not this one</productname></names></extra>
    </printer>
    <printer vid="15229" pid="2"/>
    <unknown vid="1" pid="1"/>
  </printers>
  <printers>
    <printer vid="0x3B7D" pid="0x0003">
      <names><productname resourceId="5">First</productname></names>
      <names><productname resourceId="6">Second</productname></names>
      <icon/>
      <heads default="A"/>
      <lutnames default=""/>
      <heads default="B"></heads>
      <firmware stripVersionBytes="false" requires-reboot="true"/>
      <firmware stripVersionBytes="true" requires-reboot="false"/>
    </printer>
  </printers>
</velmo_printing>
)";

// ---- a recorder of the first fault -------------------------------------------

// The reader keeps a state's exception to itself and reports only false.
// This wrapper stands between the reader and each grammar state and notes
// the first exception on its way out, so the tests can see its type, text
// and origin.
struct Fault {
    bool thrown = false;
    std::string message;
    std::string file;
    bool parserException = false;
    bool runtimeError = false;
};

class RecordingState : public XercesXMLParsingState {
public:
    RecordingState(XercesXMLParsingState* inner, Fault* fault, bool ownsItself)
        : inner_(inner), fault_(fault), ownsItself_(ownsItself) {}

    XercesXMLParsingState* StartElement(const std::string& name,
                                        const std::map<std::string, std::string>& attributes) override {
        XercesXMLParsingState* child = Guard([&] { return inner_->StartElement(name, attributes); });
        return child ? new RecordingState(child, fault_, true) : nullptr;
    }
    void Characters(const std::string& text) override {
        Guard([&] {
            inner_->Characters(text);
            return nullptr;
        });
    }
    // A throwing EndElement leaves the state open: the reader aborts it.
    void EndElement() override {
        Guard([&] {
            inner_->EndElement();
            return nullptr;
        });
        if (ownsItself_) delete this;
    }
    void Abort() override {
        inner_->Abort();
        if (ownsItself_) delete this;
    }

private:
    template <class Call>
    XercesXMLParsingState* Guard(Call call) {
        try {
            return call();
        } catch (const Tessary::TSException& e) {
            if (!fault_->thrown) {
                fault_->thrown = true;
                fault_->message = e.what();
                fault_->file = e.File();
                fault_->parserException = dynamic_cast<const Tessary::ParserException*>(&e) != nullptr;
                fault_->runtimeError = dynamic_cast<const Tessary::TSRuntimeError*>(&e) != nullptr;
            }
            throw;
        }
    }

    XercesXMLParsingState* inner_;
    Fault* fault_;
    bool ownsItself_;
};

// Parses a document held in memory through the grammar, noting the fault.
bool ParseRecording(const std::string& xml, std::vector<PrinterConfig>& printers, Fault& fault) {
    TambaDocumentState document(&printers);
    RecordingState recorder(&document, &fault, false);
    Tessary::XercesXMLParser parser;
    return parser.ParseBuffer(xml.data(), static_cast<unsigned>(xml.size()), &recorder);
}

class PrinterReader : public ::testing::Test {
protected:
    // Writes the document to a file and loads it as the programs do.
    bool Load(const std::string& xml, std::vector<PrinterConfig>& printers) {
        return LoadPrinterConfig(PathText(folder_.Write("ORV.xml", xml)), printers);
    }
    std::vector<PrinterConfig> LoadOk(const std::string& xml) {
        std::vector<PrinterConfig> printers;
        EXPECT_TRUE(Load(xml, printers));
        return printers;
    }

    PrinterTest::ScratchFolder folder_;
};

std::string Printed(const ConnectionType& connection) {
    std::ostringstream text;
    connection.Print(text);
    return text.str();
}

}  // namespace

TEST_F(PrinterReader, RichDocumentIsReadFieldByField) {
    const std::vector<PrinterConfig> printers = LoadOk(kRichDocument);
    ASSERT_EQ(printers.size(), 3u);
    const PrinterConfig& p = printers[0];

    EXPECT_EQ(p.vendorId, 0x3B7D);
    EXPECT_EQ(p.productId, 1);
    EXPECT_EQ(p.productName, "Glimmer Dock \xE2\x80\x94 J\xC3\xBCrgen");  // UTF-8
    EXPECT_EQ(p.longName, "Velmo Glimmer Dock");
    EXPECT_EQ(p.shortName, "");  // an empty element empties the name
    EXPECT_EQ(p.productNameResourceId, 1001);
    EXPECT_EQ(p.longNameResourceId, 1002);
    EXPECT_EQ(p.shortNameResourceId, -3);
    EXPECT_EQ(p.icon, "dock.ico");
    EXPECT_EQ(p.rotate, 2);
    EXPECT_EQ(p.dragAndDropSupported, 1);
    EXPECT_EQ(p.firmwareCrcVerifySupported, 0);
    EXPECT_EQ(p.mediaRemainingSupported, 1);
    EXPECT_TRUE(p.stripVersionBytes);
    EXPECT_FALSE(p.requiresReboot);

    ASSERT_EQ(p.connections.size(), 3u);
    EXPECT_EQ(Printed(*p.connections[0]), "USBConnection: { outputFormat = 2 }");
    EXPECT_EQ(Printed(*p.connections[1]), "NetworkConnection: { outputFormat = 1, discoveryProtocol = 1 }");
    EXPECT_EQ(Printed(*p.connections[2]), "NetworkConnection: { outputFormat = 2, discoveryProtocol = 2 }");

    // Papers: copies of the document's, with every dimension given.
    ASSERT_EQ(p.papers.size(), 3u);
    auto paper = p.papers.begin();
    EXPECT_EQ(paper->id, 1);
    EXPECT_EQ(paper->name, "4x6");
    EXPECT_EQ(paper->resourceId, 3001);
    const std::map<int, float> firstDimensions = {
        {WidthInches, 4.25f},     {HeightInches, 6.0f},      {WidthPixels, 1200.0f}, {HeightPixels, 1800.0f},
        {WidthMmTenths, 1016.5f}, {HeightMmTenths, 1524.0f}, {TopPoints, 1.5f},      {BottomPoints, 2.0f},
        {LeftPoints, 3.25f},      {RightPoints, 4.0f}};
    EXPECT_EQ(paper->dimensions, firstDimensions);
    ++paper;
    EXPECT_EQ(paper->id, 2);
    EXPECT_EQ(paper->name, "5x7");
    EXPECT_EQ(paper->resourceId, 8);  // "010" is octal
    EXPECT_TRUE(paper->dimensions.empty());
    ++paper;
    EXPECT_EQ(paper->id, 3);
    EXPECT_EQ(paper->dimensions, (std::map<int, float>{{WidthInches, 8.5f}, {HeightInches, 11.0f}}));

    // The first sendToPrinterAs of a paper stays; every reported size is kept.
    EXPECT_EQ(p.sendToPrinterAs, (std::map<int, int>{{2, 0x20}, {3, 3}, {1, 1}}));
    const std::multimap<std::string, int> reported = {{"4x6", 1}, {"4x6", 3}, {"5x7", 2}, {"5x7", 2}};
    EXPECT_EQ(p.paperIdsByReportedSize, reported);

    // Only the last mediaCapacities counts; within it the first code stays.
    EXPECT_EQ(p.mediaCapacities, (std::map<std::string, int>{{"A", 20}, {"B", 0x28}}));

    EXPECT_EQ(p.customProperties, (std::map<std::string, std::string>{
                                      {"resetBluetooth", "true"}, {"spaced", "  two  words  "}, {"empty", ""}}));

    EXPECT_EQ(p.defaultHead, "H2");
    ASSERT_EQ(p.heads.size(), 3u);
    // The later H1 replaced the earlier one's lists.
    const HeadDefinition& h1 = p.heads.at("H1");
    EXPECT_TRUE(h1.luts.empty());
    ASSERT_EQ(h1.firmwareNameSpecs.size(), 1u);
    EXPECT_EQ(h1.firmwareNameSpecs[0].prefix, "H1_");
    EXPECT_EQ(h1.firmwareNameSpecs[0].extension, "");
    EXPECT_EQ(h1.firmwareNameSpecs[0].versionFormat, 1);
    EXPECT_TRUE(p.heads.at("").luts.empty());

    const HeadDefinition& h2 = p.heads.at("H2");
    EXPECT_EQ(h2.id, "H2");
    ASSERT_EQ(h2.luts.size(), 4u);
    const LutModule expectedLuts[] = {{"natural", "h2_natural", -1, -1},
                                      {"natural", "h2_sticker", 3, 7},
                                      {"natural", "h2_natural", -1, -1},
                                      {"", "", -1, -1}};
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(h2.luts[i].lutRef, expectedLuts[i].lutRef);
        EXPECT_EQ(h2.luts[i].name, expectedLuts[i].name);
        EXPECT_EQ(h2.luts[i].donor, expectedLuts[i].donor);
        EXPECT_EQ(h2.luts[i].media, expectedLuts[i].media);
    }
    EXPECT_EQ(p.GetDefaultHead().GetLut("natural", 3, 7).name, "h2_sticker");
    // The file-name spec naming nothing is dropped; version-format defaults to 1 and
    // reads text without a number as 0.
    ASSERT_EQ(h2.firmwareNameSpecs.size(), 3u);
    EXPECT_EQ(h2.firmwareNameSpecs[0].prefix, "GD_");
    EXPECT_EQ(h2.firmwareNameSpecs[0].extension, ".fw");
    EXPECT_EQ(h2.firmwareNameSpecs[0].versionFormat, 2);
    EXPECT_EQ(h2.firmwareNameSpecs[1].prefix, "");
    EXPECT_EQ(h2.firmwareNameSpecs[1].extension, ".bin");
    EXPECT_EQ(h2.firmwareNameSpecs[1].versionFormat, 1);
    EXPECT_EQ(h2.firmwareNameSpecs[2].prefix, "X_");
    EXPECT_EQ(h2.firmwareNameSpecs[2].versionFormat, 0);

    EXPECT_EQ(p.defaultLut, "natural");
    EXPECT_EQ(p.lutNames, (std::map<std::string, int>{{"natural", 601}, {"vivid", 602}}));
    EXPECT_EQ(p.donorMediaMappings, (std::map<int, std::pair<int, int>>{{1, {2, 3}}, {16, {-1, 0}}, {-1, {4, -1}}}));

    // A printer element without children keeps the defaults; decimal 15229
    // names the same vendor as 0x3B7D.
    EXPECT_EQ(printers[1].vendorId, 0x3B7D);
    EXPECT_EQ(printers[1].productId, 2);
    EXPECT_EQ(printers[1].productName, "Unknown");
    EXPECT_TRUE(printers[1].papers.empty() && printers[1].heads.empty() && printers[1].connections.empty());

    // A second printers element appends; later occurrences of single values overwrite.
    const PrinterConfig& third = printers[2];
    EXPECT_EQ(third.productId, 3);
    EXPECT_EQ(third.productName, "Second");
    EXPECT_EQ(third.productNameResourceId, 6);
    EXPECT_EQ(third.icon, "");
    EXPECT_EQ(third.defaultHead, "B");
    EXPECT_EQ(third.defaultLut, "");
    EXPECT_TRUE(third.heads.empty());
    EXPECT_TRUE(third.stripVersionBytes);
    EXPECT_FALSE(third.requiresReboot);
}

TEST_F(PrinterReader, OtherRootsAndEmptyDocumentsReadAsNoPrinters) {
    std::vector<PrinterConfig> printers(2);
    EXPECT_TRUE(Load(R"(<printing><printers><printer vid="1" pid="1"/></printers></printing>)", printers));
    EXPECT_TRUE(printers.empty());  // the caller's records are dropped first
    EXPECT_TRUE(LoadOk("<velmo_printing/>").empty());
    EXPECT_TRUE(LoadOk("<Velmo_Printing><printers><printer vid='1' pid='1'/></printers></Velmo_Printing>").empty());
}

// ---- one fault per document ------------------------------------------------------

namespace {

struct Broken {
    const char* what;
    std::string body;     // the faulty part, see Document()
    const char* message;  // null: not well-formed XML, no state saw a fault
    bool runtimeError;    // TSRuntimeError rather than ParserException
    std::size_t kept;     // printers read before the fault
};

// Two good printers, then the faulty part: inside a third printer, or (when
// it starts with "<papers" or "</printers") at document level after them.
std::string Document(const std::string& body) {
    std::string xml =
        std::string("<velmo_printing>") + kPapers +
        R"(<printers><printer vid="0x3B7D" pid="1"><names><productname resourceId="1">One</productname></names></printer>
                         <printer vid="0x3B7D" pid="2"/>)";
    if (body.starts_with("<papers") || body.starts_with("<printers")) {
        xml += "</printers>" + body;
    } else {
        xml += R"(<printer vid="0x3B7D" pid="3">)" + body + "</printer></printers>";
    }
    return xml + "</velmo_printing>";
}

const std::string kMissingAttrs = "Missing one or more required attributes on <";
const std::string kInvalidAttrs = "No/invalid value for one or more attributes on <";

const Broken kBroken[] = {
    {"empty vid", R"(<printers><printer vid="" pid="1"/></printers>)", "An exception occurred", false, 2},
    {"no pid", R"(<printers><printer vid="1"/></printers>)", "An exception occurred", false, 2},
    {"vid not a number", R"(<printers><printer vid="x1" pid="1"/></printers>)", "An exception occurred", false, 2},
    {"paper without id", R"(<papers><paper resourceId="1" name="n"/></papers>)", "An exception occurred", false, 2},
    {"paper resourceId not a number", R"(<papers><paper id="9" resourceId="r" name="n"/></papers>)",
     "An exception occurred", false, 2},
    {"paper with empty name", R"(<papers><paper id="9" resourceId="1" name=""/></papers>)", "An exception occurred",
     false, 2},
    {"duplicate paper", R"(<papers><paper id="0x1" resourceId="1" name="again"/></papers>)",
     "Failed to add paper configuration to the current set!", false, 2},
    {"size without units", R"(<papers><paper id="9" resourceId="1" name="n"><sizes><size/></sizes></paper></papers>)",
     "An exception occurred", false, 2},
    {"offset without units",
     R"(<papers><paper id="9" resourceId="1" name="n"><offsets><offset><top>1</top></offset></offsets></paper></papers>)",
     "An exception occurred", false, 2},
    {"width not a number",
     R"(<papers><paper id="9" resourceId="1" name="n"><sizes><size units="inches"><width>wide</width></size></sizes></paper></papers>)",
     "An exception occurred", false, 2},
    {"productname without resourceId", R"(<names><productname>P</productname></names>)",
     "No/invalid value for one or more attributes on <productname>", false, 2},
    {"longname resourceId not decimal", R"(<names><longname resourceId="x10">L</longname></names>)",
     "No/invalid value for one or more attributes on <longname>", false, 2},
    {"shortname resourceId empty", R"(<names><shortname resourceId="">S</shortname></names>)",
     "No/invalid value for one or more attributes on <shortname>", false, 2},
    {"drag-and-drop without supported", R"(<drag-and-drop/>)", "Missing \"supported\" attribute!", false, 2},
    {"mediaRemaining not boolean", R"(<mediaRemaining supported="yes"/>)",
     "Unexpected value for \"supported\" (should be boolean)!", false, 2},
    {"firmware without attributes", R"(<firmware/>)", "Missing \"stripVersionBytes\" attribute!", false, 2},
    {"firmware without requires-reboot", R"(<firmware stripVersionBytes="true"/>)",
     "Missing \"requires-reboot\" attribute!", false, 2},
    {"firmware stripVersionBytes not boolean", R"(<firmware stripVersionBytes="1" requires-reboot="true"/>)",
     "Unexpected value for \"stripVersionBytes\" (should be boolean)!", false, 2},
    {"firmware requires-reboot not boolean", R"(<firmware stripVersionBytes="true" requires-reboot=""/>)",
     "Unexpected value for \"requires-reboot\" (should be boolean)!", false, 2},
    {"usb without format", R"(<protocols><usb/></protocols>)", "Missing one or more required attributes on <usb>",
     false, 2},
    {"usb of an unknown format", R"(<protocols><usb format="png"/></protocols>)",
     "No/invalid value for one or more attributes on <usb>", false, 2},
    {"network without discovery-model", R"(<protocols><network format="jpeg"/></protocols>)",
     "Missing one or more required attributes on <network>", false, 2},
    {"network of an unknown discovery", R"(<protocols><network format="jpeg" discovery-model="mdns"/></protocols>)",
     "No/invalid value for one or more attributes on <network>", false, 2},
    {"paperRef without paperId", R"(<paperRefs><paperRef/></paperRefs>)", "Missing \"paperId\" attribute!", false, 2},
    {"paperRef with empty paperId", R"(<paperRefs><paperRef paperId=""/></paperRefs>)",
     "Unexpected \"paperId\" attribute value (should be integer)!", false, 2},
    {"paperRef to an unknown paper", R"(<paperRefs><paperRef paperId="99"/></paperRefs>)", "Paper ID is unknown!",
     false, 2},
    {"paperRef before its paper",
     R"(<paperRefs><paperRef paperId="9"/></paperRefs></printer></printers><papers><paper id="9" resourceId="1" name="late"/></papers><printers><printer vid="1" pid="1">)",
     "Paper ID is unknown!", false, 2},
    {"sendToPrinterAs not a number", R"(<paperRefs><paperRef paperId="1" sendToPrinterAs="one"/></paperRefs>)",
     "Unexpected \"sendToPrinterAs\" attribute value (should be integer)!", false, 2},
    {"mediaCapacity without code", R"(<mediaCapacities><mediaCapacity>5</mediaCapacity></mediaCapacities>)",
     "Missing \"capacityCodeFromPrinter\" attribute!", false, 2},
    {"mediaCapacity with empty code",
     R"(<mediaCapacities><mediaCapacity capacityCodeFromPrinter="">5</mediaCapacity></mediaCapacities>)",
     "Missing \"capacityCodeFromPrinter\" attribute!", false, 2},
    {"mediaCapacity not a number",
     R"(<mediaCapacities><mediaCapacity capacityCodeFromPrinter="A">lots</mediaCapacity></mediaCapacities>)",
     "Invalid data for a <mediaCapacity> element", false, 2},
    {"heads without default", R"(<heads/>)", "An exception occurred", false, 2},
    {"lutnames without default", R"(<lutnames><lut id="a" resourceId="1"/></lutnames>)", "An exception occurred", false,
     2},
    {"head without id", R"(<heads default="a"><head/></heads>)", "No/invalid value for name on <head>", false, 2},
    {"lutmodule without lutref",
     R"(<heads default="a"><head id="a"><lutmodules><lutmodule name="m"/></lutmodules></head></heads>)",
     "No/invalid value for LUT or module name in <lutmodule>", false, 2},
    {"lutmodule without name",
     R"(<heads default="a"><head id="a"><lutmodules><lutmodule lutref="r"/></lutmodules></head></heads>)",
     "No/invalid value for LUT or module name in <lutmodule>", false, 2},
    {"lutmodule donor not a number",
     R"(<heads default="a"><head id="a"><lutmodules><lutmodule lutref="r" name="m" donor="d"/></lutmodules></head></heads>)",
     "Invalid value for attribute 'donor'", true, 2},
    {"lutmodule media not a number",
     R"(<heads default="a"><head id="a"><lutmodules><lutmodule lutref="r" name="m" media="-"/></lutmodules></head></heads>)",
     "Invalid value for attribute 'media'", true, 2},
    {"lut without id", R"(<lutnames default="a"><lut resourceId="1"/></lutnames>)",
     "No/invalid value for one or more attributes on <lut>", false, 2},
    {"lut resourceId not decimal", R"(<lutnames default="a"><lut id="a" resourceId="x"/></lutnames>)",
     "No/invalid value for one or more attributes on <lut>", false, 2},
    {"donorMediaMapping idCode twice",
     R"(<donorMediaMappings><donorMediaMapping><idCode>4</idCode></donorMediaMapping><donorMediaMapping><idCode>0x4</idCode></donorMediaMapping></donorMediaMappings>)",
     "Invalid data for a <donorMediaMapping> element", false, 2},
    {"not well-formed", R"(<names><productname resourceId="1">x</names>)", nullptr, false, 2},
};

}  // namespace

TEST_F(PrinterReader, EachBrokenDocumentIsRejectedKeepingEarlierPrinters) {
    for (const Broken& row : kBroken) {
        SCOPED_TRACE(row.what);
        const std::string xml = Document(row.body);

        std::vector<PrinterConfig> printers(5);  // replaced, not appended to
        EXPECT_FALSE(Load(xml, printers));
        ASSERT_EQ(printers.size(), row.kept);
        for (std::size_t i = 0; i < printers.size(); ++i) EXPECT_EQ(printers[i].productId, static_cast<int>(i + 1));
        if (row.kept > 0) {
            EXPECT_EQ(printers[0].productName, "One");
        }

        std::vector<PrinterConfig> recorded;
        Fault fault;
        EXPECT_FALSE(ParseRecording(xml, recorded, fault));
        EXPECT_EQ(recorded.size(), row.kept);
        if (!row.message) {
            EXPECT_FALSE(fault.thrown);
            continue;
        }
        ASSERT_TRUE(fault.thrown);
        EXPECT_EQ(fault.message, row.message);
        EXPECT_EQ(fault.parserException, !row.runtimeError);
        EXPECT_EQ(fault.runtimeError, row.runtimeError);
        EXPECT_NE(fault.file.find("PrinterStates"), std::string::npos) << fault.file;
    }
}

TEST_F(PrinterReader, MissingOrUnreadableFilesFail) {
    std::vector<PrinterConfig> printers(1);
    EXPECT_FALSE(LoadPrinterConfig(PathText(folder_.Path() / "absent.xml"), printers));
    EXPECT_TRUE(printers.empty());
    EXPECT_FALSE(Load("", printers));
    EXPECT_FALSE(Load("not xml at all", printers));
    EXPECT_FALSE(LoadPrinterConfig(Tessary::I8NString(), printers));
}

TEST_F(PrinterReader, EveryCallReadsTheFileAgain) {
    const std::string xml = R"(<velmo_printing><printers><printer vid="1" pid="1"/></printers></velmo_printing>)";
    EXPECT_EQ(LoadOk(xml).size(), 1u);
    EXPECT_EQ(LoadOk("<velmo_printing/>").size(), 0u);
}

// ---- lookups by ids --------------------------------------------------------------

TEST_F(PrinterReader, LookupByIdsTakesTheFirstMatchingModel) {
    const auto path = PathText(folder_.Write("ids.xml", R"(<velmo_printing><printers>
        <printer vid="0x3B7D" pid="0x10"><names><productname resourceId="1">hex</productname></names></printer>
        <printer vid="15229" pid="16"><names><productname resourceId="1">decimal</productname></names></printer>
        <printer vid="-1" pid="020"><names><productname resourceId="1">negative</productname></names></printer>
      </printers></velmo_printing>)"));

    PrinterConfig out;
    ASSERT_TRUE(LoadPrinterConfigByVidPid(path, 0x3B7D, 0x10, out));
    EXPECT_EQ(out.productName, "hex");
    ASSERT_TRUE(LoadPrinterConfigByVidPid(path, 0xFFFFFFFFu, 16, out));
    EXPECT_EQ(out.productName, "negative");

    out = PrinterConfig(7, 7);
    out.productName = "untouched";
    EXPECT_FALSE(LoadPrinterConfigByVidPid(path, 0x3B7D, 0x11, out));
    EXPECT_FALSE(LoadPrinterConfigByVidPid(path, 0x3B7E, 0x10, out));
    EXPECT_EQ(out.productName, "untouched");
    EXPECT_EQ(out.vendorId, 7);
}

TEST_F(PrinterReader, LookupByIdsFailsWhenTheDocumentFailsLater) {
    const auto path = PathText(folder_.Write("late.xml", Document(R"(<drag-and-drop supported="maybe"/>)")));
    PrinterConfig out;
    out.productName = "untouched";
    EXPECT_FALSE(LoadPrinterConfigByVidPid(path, 0x3B7D, 1, out));
    EXPECT_EQ(out.productName, "untouched");
    EXPECT_FALSE(LoadPrinterConfigByVidPid(PathText(folder_.Path() / "none.xml"), 0x3B7D, 1, out));
}

// ---- the shipped document ------------------------------------------------------------

TEST_F(PrinterReader, ShippedDescriptionDescribesTheFamily) {
    std::vector<PrinterConfig> printers;
    ASSERT_TRUE(LoadPrinterConfig(PathText(PrinterTest::DataFolder() / "ORV.xml"), printers));
    ASSERT_EQ(printers.size(), 4u);
    const char* const names[] = {"Glimmer Dock", "Glimmer Dock Wireless", "Glimmer Photo 4", "Glimmer Photo 6 Studio"};
    const int productIds[] = {0x410F, 0x4104, 0x410A, 0x410B};
    for (std::size_t i = 0; i < printers.size(); ++i) {
        SCOPED_TRACE(i);
        const PrinterConfig& p = printers[i];
        EXPECT_EQ(p.vendorId, 0x3B7D);
        EXPECT_EQ(p.productId, productIds[i]);
        EXPECT_EQ(p.productName, names[i]);
        EXPECT_FALSE(p.papers.empty());
        ASSERT_FALSE(p.connections.empty());
        EXPECT_EQ(p.connections[0]->kind, ConnectionType::kUsb);
        // Every look-up table name has a module in the default head, as the
        // driver's colour-correction list needs.
        const HeadDefinition head = p.GetDefaultHead();
        for (const auto& [lut, resource] : p.lutNames) EXPECT_NO_THROW(head.GetLut(lut)) << lut;
        EXPECT_TRUE(p.lutNames.count(p.defaultLut));
        for (const auto& [size, paperId] : p.paperIdsByReportedSize) {
            EXPECT_TRUE(p.papers.count(PaperDefinition{paperId, "", 0, {}})) << size;
        }
    }
    EXPECT_EQ(printers[0].customProperties.at("resetBluetooth"), "true");
    EXPECT_EQ(printers[2].rotate, 2);
    EXPECT_EQ(printers[2].connections.size(), 1u);
}

// ---- under a comma-decimal locale ----------------------------------------------------

TEST_F(PrinterReader, DimensionsReadTheSameUnderACommaDecimalLocale) {
    PrinterTest::CommaDecimalLocale locale;
    if (!locale.Active()) GTEST_SKIP() << "no comma-decimal locale could be made (localedef missing?)";
    float scanned = 0;
    ASSERT_EQ(std::sscanf("8.5", "%f", &scanned), 1);
    ASSERT_EQ(scanned, 8.0f) << "the locale in force does not use a decimal comma";

    const auto printers = LoadOk(R"(<velmo_printing><papers><paper id="1" resourceId="1" name="Letter">
        <sizes><size units="inches"><width>8.5</width><height>11.0</height></size></sizes>
        <offsets><offset units="points"><top>0.75</top></offset></offsets></paper></papers>
        <printers><printer vid="1" pid="1"><paperRefs><paperRef paperId="1"/></paperRefs></printer></printers>
      </velmo_printing>)");
    ASSERT_EQ(printers.size(), 1u);
    ASSERT_EQ(printers[0].papers.size(), 1u);
    const auto& dimensions = printers[0].papers.begin()->dimensions;
    EXPECT_EQ(dimensions.at(WidthInches), 8.5f);
    EXPECT_EQ(dimensions.at(HeightInches), 11.0f);
    EXPECT_EQ(dimensions.at(TopPoints), 0.75f);
}
