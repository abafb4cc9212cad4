// The parsers of the machine's files on arbitrary bytes: they may refuse the
// input, but only with MachineFileError, and what they accept formats into
// text that parses back to the same data.
#include "Platform/MachineFile.h"
#include "Platform/DockLink.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

template <class Data>
void RoundTrip(std::string_view text, Data (*parse)(std::string_view, const std::string&),
               std::string (*format)(const Data&)) {
    Data data;
    try {
        data = parse(text, "fuzz");
    } catch (const Platform::MachineFileError&) {
        return;
    }
    const std::string again = format(data);
    try {
        if (!(parse(again, "again") == data)) std::abort();
    } catch (const Platform::MachineFileError&) {
        std::abort();
    }
}

}  // namespace

// The first byte chooses the file: 'r' registry, 's' spooler, 'd' the
// docks, anything else the settings.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0]) {
        case 'r':
            RoundTrip(text, &Platform::ParseRegistryText, &Platform::FormatRegistryText);
            break;
        case 's':
            RoundTrip(text, &Platform::ParseSpoolerText, &Platform::FormatSpoolerText);
            break;
        case 'd':
            RoundTrip(text, &Platform::ParseDocksText, &Platform::FormatDocksText);
            break;
        default:
            RoundTrip(text, &Platform::ParseMachineSettingsText, &Platform::FormatMachineSettingsText);
            break;
    }
    return 0;
}
