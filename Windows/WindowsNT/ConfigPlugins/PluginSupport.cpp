#include "PluginSupport.h"

#include "Common/NetConfig/Requests.h"
#include "Tessary/TSException.h"
#include "Tessary/i8n/I8NString.h"
#include "Tessary/i8n/UTFConversion.h"

namespace PluginSupport {

std::optional<std::string> Utf8(const CString& text) {
    try {
        return Tessary::UTF16ToUTF8String(text, text.GetLength());
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<std::string> Narrow(const CString& text) {
    try {
        return Tessary::wc2string(text, text.GetLength());
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

CString Wide(const std::string& utf8) {
    try {
        return CString(Tessary::ToWideVector(utf8).data());
    } catch (const std::exception&) {
        return CString();
    }
}

void ConnectPrinter(ConfigAPI& api, const PrinterInfoResult& printer) {
    api.OpenByDriverKeyName(printer.driverKeyName, static_cast<int>(printer.maxOutPacketSize),
                            static_cast<int>(printer.maxInPacketSize));
    if (!api.IsConnected()) TS_THROW(Tessary::TSLogicError, "Not currently connected to a device");
}

void ReleasePrinter(ConfigAPI& api) noexcept {
    try {
        api.Close(true);
    } catch (...) {
        // The device is released whatever the printer answered.
    }
}

void WriteSettings(const std::string& rootName, ConfigAPI& api, const PrinterSettings& settings,
                   const std::string& caller) {
    int result = -1;
    if (!SetPrinterSettings(rootName, api, settings, result)) {
        TS_THROW(Tessary::TSRuntimeError, "Invalid response received for 'set printer settings' request in " + caller);
    }
    if (result != 0) {
        TS_THROW_CODE(Tessary::TSRuntimeCodeError,
                      "Error code returned for 'set printer settings' request in " + caller, result);
    }
}

void WriteBluetoothProfile(const std::string& rootName, ConfigAPI& api, const BluetoothProfile& profile,
                           const std::string& caller) {
    int result = -1;
    if (!SetBluetoothProfileData(rootName, api, profile, result)) {
        TS_THROW(Tessary::TSRuntimeError,
                 "Invalid response received for 'set Bluetooth profile data' request in " + caller);
    }
    if (result != 0) {
        TS_THROW_CODE(Tessary::TSRuntimeCodeError, "Error code returned for 'set profile data' request in " + caller,
                      result);
    }
}

}  // namespace PluginSupport
