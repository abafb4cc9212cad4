// What the dock simulator reads from outside: a dock's state file and the
// messages of the socket. They may refuse the input, but only with their
// own exceptions, and what they accept comes back the same when written
// again.
#include "Platform/DockLink.h"
#include "Simulators/DockPrinter/DockStateText.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

namespace Dock = Simulators::Dock;
namespace Wire = Platform::DockWire;

void StateText(std::string_view text) {
    Dock::PrinterState state;
    try {
        state = Dock::ParseStateText(text, "fuzz");
    } catch (const Dock::StateTextError&) {
        return;
    }
    try {
        if (!(Dock::ParseStateText(Dock::FormatStateText(state), "again") == state)) std::abort();
    } catch (const Dock::StateTextError&) {
        std::abort();
    }
}

void Messages(const std::vector<BYTE>& body) {
    try {
        if (Wire::Encode(Wire::DecodeRequest(body)) != body) std::abort();
    } catch (const std::invalid_argument&) {
    }
    try {
        if (Wire::Encode(Wire::DecodeAnswer(body)) != body) std::abort();
    } catch (const std::invalid_argument&) {
    }
}

}  // namespace

// The first byte chooses: 'w' a socket message, anything else a state file.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    if (data[0] == 'w')
        Messages(std::vector<BYTE>(data + 1, data + size));
    else
        StateText(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
    return 0;
}
