#include "Common/ConfigSupport/PrinterIdentification.h"

#include <cstring>

#include <boost/lexical_cast.hpp>

#include "Common/ConfigSupport/DeviceID1284.h"
#include "Common/ConfigSupport/PrinterIDs.h"
#include "Common/Headers/PrinterDescription.h"

const char* const BaseDockModelName = "Glimmer Dock";

namespace {

constexpr double kBaseDockMinimumVersion = 3.01;

bool HasNetworkConnection(const PrinterConfig& printer) {
    for (const auto& connection : printer.GetConnections())
        if (connection && connection->kind == ConnectionType::kNetwork) return true;
    return false;
}

}  // namespace

bool LookupPrinterByDeviceNames(const Tessary::I8NString& descriptionPath, const Tessary::I8NString& idsPath,
                                const std::string& manufacturer, const std::string& model, PrinterConfig& out) {
    PrinterIDMap manufacturers, models;
    if (!LoadPrinterIDs(idsPath, manufacturers, models)) return false;
    const auto vendor = manufacturers.find(manufacturer);
    const auto product = models.find(model);
    if (vendor == manufacturers.end() || product == models.end()) return false;
    return LoadPrinterConfigByVidPid(descriptionPath, static_cast<unsigned>(vendor->second),
                                     static_cast<unsigned>(product->second), out);
}

bool IdentifyPrinterFromDeviceID(const char* id) {
    return IdentifyPrinterFromDeviceID(id, GetPrinterConfigPath(), GetPrinterIDsPath());
}

bool IdentifyPrinterFromDeviceID(const char* id, const Tessary::I8NString& descriptionPath,
                                 const Tessary::I8NString& idsPath) {
    DeviceID1284 deviceId;
    if (!deviceId.Parse(id)) return false;
    char version[64];
    char model[255];
    char manufacturer[255];
    if (!deviceId.GetVersion(version, sizeof version)) return false;
    if (!deviceId.GetModel(model, sizeof model) || !deviceId.GetManufacturer(manufacturer, sizeof manufacturer))
        return false;
    PrinterConfig printer;
    if (!LookupPrinterByDeviceNames(descriptionPath, idsPath, manufacturer, model, printer)) return false;
    if (!HasNetworkConnection(printer)) return false;
    if (std::strcmp(model, BaseDockModelName) == 0)
        return boost::lexical_cast<double>(version) >= kBaseDockMinimumVersion;
    return true;
}
