// GUID: the identifier of device setup classes and device interface classes.
#pragma once

#include "Platform/Win32.h"

#include <string>

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};
static_assert(sizeof(GUID) == 16);

constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}

namespace Platform {

// "{a5dcbf10-6530-11d2-901f-00c04fb951ed}", lower case as the device manager writes it.
std::u16string GuidToString(const GUID& guid);

}  // namespace Platform
