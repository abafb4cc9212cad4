// The device id as a printer answers it: the input is the raw answer of the
// printing interface, read through the channel (length prefix and all) and
// then parsed. Any crash, read out of bounds or broken value rule is a bug.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "Common/ConfigSupport/DeviceID1284.h"
#include "Common/NetConfig/API/PrinterDevice.h"
#include "Common/NetConfig/API/ScriptedUsbPrinter.h"
#include "Platform/Machine.h"
#include "Tessary/TSException.h"

namespace {

struct Bench {
    Bench() {
        auto& devices = Platform::GetMachine().Devices();
        printer = std::make_shared<TestSupport::ScriptedUsbPrinter>(TestSupport::ScriptedIdentity());
        devices.AttachDevice(devices.AddHostController(1).rootHub, 1, printer);
        device = std::make_unique<PrinterDevice>(0x1A2B, 0x0C01, "SN0001");
    }
    std::shared_ptr<TestSupport::ScriptedUsbPrinter> printer;
    std::unique_ptr<PrinterDevice> device;
};

void Check(bool condition) {
    if (!condition) std::abort();
}

// Values are cut, trimmed and collapsed.
void CheckValue(const std::string* value) {
    if (!value) return;
    Check(value->size() <= DeviceID1284::kMaxValueLength);
    Check(value->find(';') == std::string::npos);
    Check(value->empty() || (value->front() != ' ' && value->back() != ' '));
    Check(value->find("  ") == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Bench bench;
    bench.printer->SetDeviceId(std::string(reinterpret_cast<const char*>(data), size));
    std::string id;
    try {
        bench.device->GetDeviceID(id);
    } catch (const Tessary::TSException&) {
        Check(size == 0 || size > 1024);
        return 0;
    }
    Check(id.size() <= size && id.find('\0') == std::string::npos);

    DeviceID1284 parsed;
    const bool ok = parsed.Parse(id.c_str());
    Check(ok == parsed.IsParsed());
    Check(!ok || (parsed.Field(DeviceID1284::MFG) && parsed.Field(DeviceID1284::MDL)));
    for (int k = 0; k < DeviceID1284::KeyCount; ++k) {
        const std::string* value = parsed.Field(static_cast<DeviceID1284::Key>(k));
        Check(ok || !value);
        CheckValue(value);
    }
    char small[4];
    char large[DeviceID1284::kMaxValueLength + 1];
    if (parsed.GetModel(small, sizeof small)) Check(std::strlen(small) < sizeof small);
    if (parsed.GetManufacturer(large, sizeof large)) Check(std::strlen(large) < sizeof large);
    if (parsed.GetVersion(large, sizeof large)) Check(std::strlen(large) < sizeof large);
    return 0;
}
