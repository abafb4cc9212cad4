// Checks of what the user types into the wizard's panes, as pure functions
// of the text (UTF-16, as the edits hold it). Characters are code points.
#pragma once

#include "Common/NetConfig/Settings.h"

#include <string_view>

enum DeviceNameCheck : int {
    DeviceNameValid = 0,
    DeviceNameEmpty = 1,
    DeviceNameTooLong = 2,  // more than 32 characters, or 64 bytes or more in UTF-8
    DeviceNameInvalid = 3,  // not valid UTF-16 (a lone surrogate)
};
DeviceNameCheck ValidateDeviceName(std::u16string_view name);

enum SsidCheck : int {
    SsidValid = 0,
    SsidEmpty = 1,
    SsidTooLong = 2,  // more than 32 bytes in UTF-8
    SsidInvalid = 3,  // not valid UTF-16 (a lone surrogate)
};
SsidCheck ValidateSsid(std::u16string_view ssid);

// The data mode a WEP key selects: DATA_MODE_WEP_64BIT for 5 characters or
// 10 hexadecimal digits, DATA_MODE_WEP_128BIT for 13 characters or 26
// hexadecimal digits; DATA_MODE_NONE for any other key.
DataMode ValidateWepKey(std::u16string_view key);

// Whether these programs can edit the security of a network: none or WEP,
// open or shared. WPA, TKIP and AES are the printer's to keep as they are.
bool IsSupportedSecurity(const WiFiSettings& wifi);

enum StaticAddressCheck : int {
    StaticAddressValid = 0,
    StaticAddressMissing = 1,  // empty, 0.0.0.0, or no dotted address
    StaticMaskInvalid = 2,     // not a run of ones followed by zeros (none at all included)
};
// A static IP setting as the address controls show it (dotted text).
StaticAddressCheck ValidateStaticAddress(std::u16string_view address, std::u16string_view mask);
