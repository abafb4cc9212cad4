// The port record as the wireless port monitor receives it from "AddPort":
// any bytes decode to a record that encodes back to the same bytes, or are
// refused; the monitor answers success only for a record that decodes, and
// the port it adds keeps exactly what the record said. Any crash, read out
// of bounds or broken rule is a bug.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "Common/Headers/XcvPortRecord.h"
#include "Platform/Machine.h"
#include "Platform/Spooler.h"
#include "Platform/WirelessPortMonitor.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

struct Bench {
    Bench() {
        std::u16string name(u"Velmo wireless printer port"), environment(u"Windows NT x86"), library(u"ORVPM.DLL");
        MONITOR_INFO_2W info{name.data(), environment.data(), library.data()};
        Check(AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info)));
        PRINTER_DEFAULTSW admin{nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
        Check(OpenPrinterW(u",XcvMonitor Velmo wireless printer port", &xcv, &admin));
    }
    HANDLE xcv = nullptr;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Bench bench;
    bool decoded = false;
    XcvPortRecord record;
    try {
        record = XcvPortRecord::Decode(data, size);
        decoded = true;
        const auto bytes = record.Encode();
        Check(std::memcmp(bytes.data(), data, bytes.size()) == 0);
    } catch (const std::invalid_argument&) {
        // refused: the monitor must refuse it too
    }

    std::vector<std::uint8_t> input(data, data + size);
    char16_t port[64] = {};
    DWORD needed = 0, status = 0;
    Check(XcvDataW(bench.xcv, u"AddPort", input.empty() ? nullptr : input.data(), static_cast<DWORD>(size),
                   reinterpret_cast<LPBYTE>(port), sizeof port - 2, &needed, &status));
    Check(status == ERROR_SUCCESS ? decoded : status == ERROR_INVALID_PARAMETER && !decoded);
    if (status != ERROR_SUCCESS) return 0;

    auto& spooler = Platform::GetMachine().Spooler();
    const auto entry = spooler.FindPort(port);
    Check(entry.has_value());
    Check(entry->vendorId == record.vendorId && entry->productId == record.productId);
    Check(entry->deviceName == record.deviceName && entry->address == record.address);
    spooler.RemovePort(port);
    return 0;
}
