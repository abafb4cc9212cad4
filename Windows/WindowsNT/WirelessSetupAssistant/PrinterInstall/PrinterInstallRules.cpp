#include "PrinterInstallRules.h"

#include <algorithm>

namespace PortMonitorUtilities {

namespace {

char16_t Fold(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::u16string Numbered(std::u16string_view base, CopyPattern pattern, unsigned n) {
    std::u16string name(base);
    name += pattern == CopyPattern::Assistant ? u" (Copy " : u" (copy ";
    for (char c : std::to_string(n)) {
        name += static_cast<char16_t>(c);
    }
    name += u')';
    return name;
}

}  // namespace

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return Fold(x) == Fold(y); });
}

std::u16string_view ModelNameFor(std::uint32_t productId) {
    for (const ModelName& model : kModels) {
        if (model.productId == productId) {
            return model.name;
        }
    }
    return kModels.front().name;
}

std::u16string UniquePrinterName(std::u16string_view base, const std::vector<std::u16string>& existing,
                                 CopyPattern pattern) {
    // Only names that start with the base can ever equal a candidate.
    std::vector<std::u16string_view> kept;
    for (const std::u16string& name : existing) {
        if (StartsWithNoCase(name, base)) {
            kept.push_back(name);
        }
    }
    auto taken = [&kept](std::u16string_view candidate) {
        return std::any_of(kept.begin(), kept.end(),
                           [candidate](std::u16string_view name) { return EqualsNoCase(name, candidate); });
    };
    std::u16string candidate(base);
    for (unsigned n = 1; taken(candidate); ++n) {
        candidate = Numbered(base, pattern, n);
    }
    return candidate;
}

std::u16string HostWithoutLocalDomain(std::u16string_view host) {
    constexpr std::u16string_view kLocal = u".local.";
    const std::size_t at = host.rfind(kLocal);
    return std::u16string(at == std::u16string_view::npos ? host : host.substr(0, at));
}

std::u16string BracedSerial(std::u16string_view serial, std::size_t fieldUnits) {
    const std::size_t room = fieldUnits >= 3 ? fieldUnits - 3 : 0;
    std::u16string name = u"{";
    name += serial.substr(0, std::min(room, serial.size()));
    name += u'}';
    return name;
}

std::optional<XcvPortRecord> NetworkPortRecord(std::uint32_t vendorId, std::uint32_t productId,
                                               std::u16string_view guid, std::u16string_view host, std::uint16_t port) {
    const std::u16string hostName = HostWithoutLocalDomain(host);
    if (hostName.empty() || guid.empty() || vendorId == 0 || productId == 0) {
        return std::nullopt;
    }
    XcvPortRecord record;
    record.vendorId = vendorId;
    record.productId = productId;
    record.deviceName = u"{" + std::u16string(guid) + u"}";
    record.address = u"ptp://" + hostName + u":";
    for (char c : std::to_string(port)) {
        record.address += static_cast<char16_t>(c);
    }
    if (!XcvPortRecord::FitsDeviceName(record.deviceName) || !XcvPortRecord::FitsAddress(record.address)) {
        return std::nullopt;
    }
    return record;
}

XcvPortRecord UsbPortRecord(std::uint32_t vendorId, std::uint32_t productId, std::u16string_view serial) {
    XcvPortRecord record;
    record.vendorId = vendorId;
    record.productId = productId;
    record.deviceName = BracedSerial(serial, XcvPortRecord::kDeviceNameUnits);
    return record;
}

std::size_t XcvOutputUnits(std::uint32_t bytesAsked) {
    return (static_cast<std::size_t>(bytesAsked) + 1) / 2 + 1;
}

bool IsColourProfile(std::u16string_view fileName) {
    const std::size_t dot = fileName.rfind(u'.');
    return dot != std::u16string_view::npos && EqualsNoCase(fileName.substr(dot + 1), u"icm");
}

std::u16string_view LastPathComponent(std::u16string_view path) {
    const std::size_t slash = path.rfind(u'\\');
    return slash == std::u16string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace PortMonitorUtilities
