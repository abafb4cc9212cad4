// The configuration channel's status and response framing, fed by a
// printer whose reads follow the input.
//
// Input: one byte of settings (bit 0: confirm configuration mode instead of
// reading a response; bits 1-3: the IN packet size), then the chunks that
// the printer's successive reads return, each a length byte L and L bytes:
// L 0xFE is a failing read, L 0xFF takes a 16-bit length from the next two
// bytes. A successful response must be exactly the announced body.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Common/NetConfig/API/ScriptedUsbPrinter.h"
#include "Common/NetConfig/API/Win32ConfigAPI.h"
#include "Platform/Clock.h"
#include "Platform/Machine.h"

namespace {

using TestSupport::Bytes;
using TestSupport::ScriptedRead;

struct Bench {
    Bench() {
        Platform::SetClock(std::make_shared<Platform::ManualClock>());
        auto& devices = Platform::GetMachine().Devices();
        printer = std::make_shared<TestSupport::ScriptedUsbPrinter>(TestSupport::ScriptedIdentity());
        const DEVINST node = devices.AttachDevice(devices.AddHostController(1).rootHub, 1, printer);
        driverKey = TestSupport::DriverKeyOf(node);
    }
    std::shared_ptr<TestSupport::ScriptedUsbPrinter> printer;
    std::string driverKey;
};

constexpr int kPacketSizes[8] = {0, 1, 4, 8, 12, 64, 512, -1};

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Bench bench;
    if (size < 1) return 0;
    const bool confirm = (data[0] & 1) != 0;
    const int packetSize = kPacketSizes[(data[0] >> 1) & 7];

    std::vector<ScriptedRead> reads;
    Bytes stream;  // every byte the printer would deliver, in order
    std::size_t i = 1;
    while (i < size) {
        std::size_t length = data[i++];
        if (length == 0xFE) {
            reads.push_back({{}, ERROR_GEN_FAILURE});
            continue;
        }
        if (length == 0xFF) {
            if (size - i < 2) break;
            length = data[i] | (data[i + 1] << 8);
            i += 2;
        }
        length = std::min(length, size - i);
        Bytes chunk(data + i, data + i + length);
        i += length;
        stream.insert(stream.end(), chunk.begin(), chunk.end());
        reads.push_back({std::move(chunk)});
    }
    // Opening first drops what an earlier channel left unread; an empty read
    // tells it there is nothing, so the stream below is what the caller reads.
    reads.insert(reads.begin(), ScriptedRead{});
    bench.printer->Script(reads);
    bench.printer->ClearLogs();

    Win32ConfigAPI api;
    try {
        api.OpenByDriverKeyName(bench.driverKey, 64, packetSize);
        if (confirm) {
            api.SetConfigMode(true);
            Check(api.inConfigMode);
        } else {
            api.inConfigMode = true;
            std::string response = "untouched";
            api.ReadResponse(response);
            Check(stream.size() >= 4);
            const auto announced = static_cast<std::int16_t>(stream[2] | (stream[3] << 8));
            const std::size_t n = announced < 0 ? 0 : static_cast<std::size_t>(announced);
            Check(response.size() == n && stream.size() >= 4 + n);
            Check(response == std::string(stream.begin() + 4, stream.begin() + 4 + static_cast<std::ptrdiff_t>(n)));
        }
    } catch (const Tessary::TSException&) {
    }
    return 0;
}
