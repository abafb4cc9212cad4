// Descriptor parsing of the USB hub walk, fed with whatever a device might
// return. Input: one byte (the active configuration value), then sections
// of [length: u16 little-endian][bytes] for the device descriptor, the
// configuration set and string descriptors 1, 2 and 3. The parsers run on
// each section alone, then a simulated device with those descriptors is
// walked and read as a printer.
#include "Windows/Win32-USBUtils/USBDescriptors.h"
#include "Platform/Machine.h"
#include "Tessary/TSException.h"
#include "Windows/Win32-USBUtils/USBUtils.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

std::vector<std::vector<std::uint8_t>> Sections(const std::uint8_t* data, std::size_t size) {
    std::vector<std::vector<std::uint8_t>> out;
    std::size_t at = 0;
    while (at + 2 <= size && out.size() < 5) {
        const std::size_t length = std::min<std::size_t>(data[at] | (data[at + 1] << 8), size - at - 2);
        out.emplace_back(data + at + 2, data + at + 2 + length);
        at += 2 + length;
    }
    out.resize(5);
    return out;
}

void ParseAlone(const std::vector<std::uint8_t>& bytes) {
    try {
        USBDescriptors::ParseStringDescriptor(bytes.data(), bytes.size());
    } catch (const Tessary::TSException&) {
    }
    try {
        std::uint32_t out = 0, in = 0;
        USBDescriptors::FindPrinterMaxPacketSizes(bytes.data(), bytes.size(), out, in);
    } catch (const Tessary::TSException&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const auto sections = Sections(data + 1, size - 1);
    for (const auto& section : sections) ParseAlone(section);

    Platform::UsbDescriptorSet set;
    set.currentConfiguration = data[0];
    set.device = sections[0];
    set.device.resize(18, 0);
    set.device[4] = 0;  // hubs are attached differently
    set.configurations.push_back(sections[1]);
    for (std::uint8_t i = 1; i <= 3; ++i)
        if (!sections[1 + i].empty()) set.strings[i] = sections[1 + i];

    auto& machine = Platform::GetMachine();
    machine.Reset();
    auto& devices = machine.Devices();
    const auto controller = devices.AddHostController(1);
    devices.AttachDevice(controller.rootHub, 1, std::make_shared<Platform::UsbDeviceModel>(std::move(set)));

    try {
        DeviceOnHubMatched any;
        HubEnumSingleResult<PrinterInfoResult> result;
        HubEnumDirector director(&any, &result);
        EnumerateHubs(director);
    } catch (const Tessary::TSException&) {
    }
    try {
        const std::uint16_t vendor =
            static_cast<std::uint16_t>(sections[0].size() >= 10 ? sections[0][8] | (sections[0][9] << 8) : 0);
        const std::uint16_t product =
            static_cast<std::uint16_t>(sections[0].size() >= 12 ? sections[0][10] | (sections[0][11] << 8) : 0);
        std::uint32_t out = 0, in = 0;
        HANDLE printer = OpenUSBPrinter(vendor, product, "SERIAL", out, in);
        if (printer != INVALID_HANDLE_VALUE) CloseHandle(printer);
    } catch (const Tessary::TSException&) {
    }
    // Every way out of a walk releases what it opened.
    if (devices.OpenDeviceHandleCount() != 0 || devices.OpenDeviceInfoListCount() != 0) std::abort();
    return 0;
}
