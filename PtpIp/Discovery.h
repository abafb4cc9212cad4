// The DNS-SD discovery provider's pieces that tests and fuzzing reach: the
// TXT record reader and the choice of DNS-SD core.
#pragma once

#include "DiscoveryEngine.h"
#include "TransportDiscovery.h"

#include <cstddef>
#include <string>

namespace Jorvale {

// What a printer's TXT record says of it. Every value starts empty.
struct TxtValues {
    std::u16string guid;  // "{" + value + "}", at most 39 units
    DWORD vendorId = 0;
    DWORD productId = 0;
    DWORD sequence = 0;
    DWORD version = 0;
};

// Reads the entries "GUID=", "VID=", "PID=", "SEQ=" and "VER=" in any case;
// the numbers are hexadecimal. A record of exactly 22 bytes is not read. An
// entry that runs past the end of the record ends the reading.
TxtValues ParseTxtRecord(const unsigned char* record, std::size_t size);

// The core every provider uses from now on; null puts the system's back.
// Replace it only while no provider holds a use of it.
void SetDnsSdCore(DnsSdCore* core);
// Uses of the DNS-SD core held by providers, process-wide.
unsigned DnsSdCoreUses();

}  // namespace Jorvale
