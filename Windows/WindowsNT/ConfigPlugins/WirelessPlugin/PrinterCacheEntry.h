// One printer as the Wi-Fi plug-in and the setup assistant hold it: what the
// USB walk found and what was read from (or written to) the printer.
#pragma once

#include "Common/NetConfig/Settings.h"
#include "Windows/Win32-USBUtils/USBUtils.h"

#include <string>
#include <vector>

struct PrinterCacheEntry {
    PrinterInfoResult printer;
    bool loaded = false;
    bool readFailed = false;
    std::vector<Profile> profiles;
    BluetoothProfile bluetooth;
    bool bluetoothUnread = false;  // the printer answered the Bluetooth read with an error
    int selected = -1;
    std::vector<WiFiSettings> networks;
    bool scanAccepted = false;
    std::string guid;
    PrinterSettings settings;
};
