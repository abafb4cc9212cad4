// TXT records as DNS-SD delivers them, split into entries and read the way
// the printer search reads them.
#include "Windows/WindowsNT/BonjourWrapper/ServiceLocator.h"

#include "Tessary/TSException.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <list>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string record(reinterpret_cast<const char*>(data), size);
    std::list<std::string> entries;
    const bool wellFormed = Bonjour::ServiceLocator::SplitTxtRecord(record, entries);

    // Every entry is a slice of the record behind its length byte.
    std::size_t consumed = 0;
    for (const auto& entry : entries) {
        if (entry.size() > 255) std::abort();
        consumed += entry.size() + 1;
    }
    if (consumed > size || (wellFormed && consumed != size)) std::abort();

    for (const auto& entry : entries) {
        for (const auto* key : {&Bonjour::TxtKeyUsbVid, &Bonjour::TxtKeyPid}) {
            if (entry.rfind(*key, 0) == 0) (void)std::strtol(entry.c_str() + key->size(), nullptr, 16);
        }
    }

    // Service names come from the same wire and may carry any escape.
    try {
        (void)Bonjour::ServiceLocator::UnescapeName(record);
    } catch (const Tessary::TSException&) {
    }
    return 0;
}
