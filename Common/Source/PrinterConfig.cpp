#include "PrinterConfig.h"

#include <cstdio>

#include "Tessary/TSException.h"

namespace {

// The lookups' failures name no source position: they are about the data.
[[noreturn]] void ThrowLookupFailure(const std::string& message) {
    throw Tessary::TSException(message, "", 0);
}

}  // namespace

LutModule HeadDefinition::GetLut(const std::string& lutRef) const {
    return GetLut(lutRef, -1, -1);
}

LutModule HeadDefinition::GetLut(const std::string& lutRef, int donor, int media) const {
    for (const LutModule& module : luts) {
        if (module.lutRef == lutRef && module.donor == donor && module.media == media) return module;
    }
    char codes[32];
    std::snprintf(codes, sizeof codes, "%d:%d", donor, media);
    ThrowLookupFailure("Can't find LUT: " + lutRef + "/" + codes);
}

std::ostream& USBConnection::Print(std::ostream& stream) const {
    return stream << "USBConnection: { outputFormat = " << outputFormat << " }";
}

std::ostream& NetworkConnection::Print(std::ostream& stream) const {
    return stream << "NetworkConnection: { outputFormat = " << outputFormat
                  << ", discoveryProtocol = " << discoveryProtocol << " }";
}

PrinterConfig::PrinterConfig() : vendorId(-1), productId(-1) {}

PrinterConfig::PrinterConfig(unsigned vendor, unsigned product)
    : vendorId(static_cast<int>(vendor)), productId(static_cast<int>(product)) {}

void PrinterConfig::swap(PrinterConfig& other) noexcept {
    using std::swap;
    swap(vendorId, other.vendorId);
    swap(productId, other.productId);
    swap(productName, other.productName);
    swap(longName, other.longName);
    swap(shortName, other.shortName);
    swap(productNameResourceId, other.productNameResourceId);
    swap(longNameResourceId, other.longNameResourceId);
    swap(shortNameResourceId, other.shortNameResourceId);
    swap(mediaRemainingSupported, other.mediaRemainingSupported);
    swap(dragAndDropSupported, other.dragAndDropSupported);
    swap(firmwareCrcVerifySupported, other.firmwareCrcVerifySupported);
    swap(icon, other.icon);
    swap(rotate, other.rotate);
    swap(lutNames, other.lutNames);
    swap(defaultLut, other.defaultLut);
    swap(defaultHead, other.defaultHead);
    swap(heads, other.heads);
    swap(papers, other.papers);
    swap(donorMediaMappings, other.donorMediaMappings);
    swap(mediaCapacities, other.mediaCapacities);
    swap(paperIdsByReportedSize, other.paperIdsByReportedSize);
    swap(sendToPrinterAs, other.sendToPrinterAs);
    swap(stripVersionBytes, other.stripVersionBytes);
    swap(connections, other.connections);
    swap(requiresReboot, other.requiresReboot);
    swap(customProperties, other.customProperties);
}

HeadDefinition PrinterConfig::GetHead(const std::string& id) const {
    const auto it = heads.find(id);
    if (it == heads.end()) ThrowLookupFailure("Can't find head: " + id);
    return it->second;
}

HeadDefinition PrinterConfig::GetDefaultHead() const {
    const auto it = heads.find(defaultHead);
    if (it == heads.end()) ThrowLookupFailure("Can't find default head");
    return it->second;
}
