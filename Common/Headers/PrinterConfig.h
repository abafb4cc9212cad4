// One printer model as the printer description document describes it, and
// its companion records. Plain values: built by the description reader,
// copied freely by whoever needs the facts, never written back.
#pragma once

#include <boost/shared_ptr.hpp>

#include <map>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

// Keys of a paper's dimension table. A key is present only when the
// document gave that value.
enum PaperDimension {
    WidthInches = 0,
    HeightInches = 1,
    WidthPixels = 2,
    HeightPixels = 3,
    WidthMmTenths = 4,
    HeightMmTenths = 5,
    TopPoints = 6,
    BottomPoints = 7,
    LeftPoints = 8,
    RightPoints = 9,
};

// Codes of the document's "format" and "discovery-model" values. Zero is
// never stored: the reader refuses any other value.
constexpr int OUTPUT_FORMAT_CMY_CMD_PLANAR = 1;   // "cmy-cmd-planar"
constexpr int OUTPUT_FORMAT_JPEG = 2;             // "jpeg"
constexpr int DISCOVERY_PROTOCOL_RENDEZVOUS = 1;  // "rendezvous"
constexpr int DISCOVERY_PROTOCOL_UDP_MW = 2;      // "udp-mw"

// One colour look-up table module of a head. -1 for donor or media means
// the document did not tie the module to one.
struct LutModule {
    std::string lutRef;
    std::string name;
    int donor = -1;
    int media = -1;
};

// How a head's firmware files are named. Never both texts empty.
struct FirmwareNameSpec {
    std::string prefix;
    std::string extension;
    int versionFormat = 1;
};

class HeadDefinition {
public:
    HeadDefinition() = default;
    explicit HeadDefinition(std::string headId) : id(std::move(headId)) {}

    // The first module in document order with this reference and exactly
    // these donor and media codes (-1 matches only -1). None: TSException
    // "Can't find LUT: <ref>/<donor>:<media>".
    LutModule GetLut(const std::string& lutRef) const;
    LutModule GetLut(const std::string& lutRef, int donor, int media) const;

    std::string id;
    std::vector<LutModule> luts;                      // document order, duplicates kept
    std::vector<FirmwareNameSpec> firmwareNameSpecs;  // document order
};

// A paper with its sizes and margins. Papers are ordered, and told apart,
// by id alone.
struct PaperDefinition {
    int id = 0;
    std::string name;
    int resourceId = 0;
    std::map<int, float> dimensions;  // PaperDimension -> value

    friend bool operator<(const PaperDefinition& a, const PaperDefinition& b) { return a.id < b.id; }
};

// How a model is reached. Shared between copies of a record.
class ConnectionType {
public:
    static constexpr int kUsb = 0;
    static constexpr int kNetwork = 1;

    virtual ~ConnectionType() = default;
    // Diagnostic text of the connection.
    virtual std::ostream& Print(std::ostream& stream) const = 0;

    int outputFormat;
    int kind;

protected:
    ConnectionType(int format, int connectionKind) : outputFormat(format), kind(connectionKind) {}
};

class USBConnection : public ConnectionType {
public:
    explicit USBConnection(int format) : ConnectionType(format, kUsb) {}
    std::ostream& Print(std::ostream& stream) const override;
};

class NetworkConnection : public ConnectionType {
public:
    NetworkConnection(int format, int discovery) : ConnectionType(format, kNetwork), discoveryProtocol(discovery) {}
    std::ostream& Print(std::ostream& stream) const override;

    int discoveryProtocol;
};

class PrinterConfig {
public:
    using Connections = std::vector<boost::shared_ptr<ConnectionType>>;

    // Ids -1 and every other default.
    PrinterConfig();
    PrinterConfig(unsigned vendorId, unsigned productId);

    void swap(PrinterConfig& other) noexcept;

    Connections GetConnections() const { return connections; }
    std::map<std::string, int> GetLutNames() const { return lutNames; }
    std::string GetDefaultLut() const { return defaultLut; }
    std::string GetDefaultHeadId() const { return defaultHead; }

    // A copy of the head with this id. None: TSException "Can't find head: <id>".
    HeadDefinition GetHead(const std::string& id) const;
    // The head named by defaultHead. None: TSException "Can't find default head".
    HeadDefinition GetDefaultHead() const;

    int vendorId;
    int productId;
    std::string productName = "Unknown";
    std::string longName = "Unknown";
    std::string shortName = "Unknown";
    int productNameResourceId = -1;
    int longNameResourceId = -1;
    int shortNameResourceId = -1;
    // 1 supported, 0 not, -1 the document does not say.
    int mediaRemainingSupported = -1;
    int dragAndDropSupported = -1;
    int firmwareCrcVerifySupported = -1;
    std::string icon;
    int rotate = 0;                       // 2: pages are turned half a turn on a USB port
    std::map<std::string, int> lutNames;  // LUT id -> resource id
    std::string defaultLut;
    std::string defaultHead;
    std::map<std::string, HeadDefinition> heads;
    std::set<PaperDefinition> papers;
    std::map<int, std::pair<int, int>> donorMediaMappings;  // id code -> (donor, media)
    std::map<std::string, int> mediaCapacities;             // code reported by the printer -> capacity
    std::multimap<std::string, int> paperIdsByReportedSize;
    std::map<int, int> sendToPrinterAs;  // paper id -> number sent to the printer
    bool stripVersionBytes = false;
    Connections connections;
    bool requiresReboot = true;
    std::map<std::string, std::string> customProperties;
};

inline void swap(PrinterConfig& a, PrinterConfig& b) noexcept {
    a.swap(b);
}
