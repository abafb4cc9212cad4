// The simulated dock fed with whatever a host might write: the first byte
// sets the size of the writes the rest is cut into; everything the dock
// queues is read back. Requests inside reach its XML reading and command
// engine, print data its print engine; the dock must neither crash nor
// answer outside its framing. Outside configuration mode a read with
// nothing queued is a printer status block.
#include "Simulators/DockPrinter/DockPrinter.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t chunk = data[0] == 0 ? size : data[0];
    auto dock = std::make_shared<Simulators::DockPrinter>();
    dock->SetOutputFolder("");  // no files from fuzzing
    dock->OnAttached();
    std::vector<BYTE> out;
    std::vector<BYTE> buffer(512);
    for (std::size_t at = 1; at < size; at += chunk) {
        DWORD written = 0;
        const DWORD n = static_cast<DWORD>(std::min(chunk, size - at));
        if (dock->Write(data + at, n, written) != ERROR_SUCCESS || written != n) std::abort();
        for (;;) {
            DWORD got = 0;
            const bool statusRead = dock->PendingTransfers() == 0 && !dock->InConfigMode();
            if (dock->Read(buffer.data(), static_cast<DWORD>(buffer.size()), got) != ERROR_SUCCESS) std::abort();
            if (got == 0) break;
            if (statusRead) {
                // The status block, whole, with a state the engine can be in.
                const BYTE state = buffer[0];
                if (got != 12 || (state & (state - 1)) != 0 || state > 32) std::abort();
                break;
            }
            out.insert(out.end(), buffer.begin(), buffer.begin() + got);
        }
    }
    // What came back is whole status blocks: a body of exactly the announced
    // length after status 1, none after a failure, never a negative length.
    for (std::size_t at = 0; at < out.size();) {
        if (out.size() - at < 4 || out[at] != 0x37 || (out[at + 3] & 0x80) != 0) std::abort();
        const std::size_t length = out[at + 2] | out[at + 3] << 8;
        if (out[at + 1] != 1 && length != 0) std::abort();
        at += 4 + length;
        if (at > out.size()) std::abort();
    }
    return 0;
}
