// Pieces both configuration plug-ins build their panes from: text between
// the dialog layer and the printer, the printer's channel, the writes both
// panes make, and the factory behind the export.
#pragma once

#include "BaseConfigDlg.h"

#include "Common/NetConfig/API/ConfigAPI.h"
#include "Common/NetConfig/Settings.h"
#include "Mfc/AfxWin.h"

#include <memory>
#include <optional>
#include <string>

namespace PluginSupport {

// The printer takes text as UTF-8; text that cannot be sent (an unpaired
// surrogate) has no value.
std::optional<std::string> Utf8(const CString& text);
// The narrow form the printer's limits are counted in; nothing when the
// text does not convert.
std::optional<std::string> Narrow(const CString& text);
// Text from the printer; empty when it is not UTF-8.
CString Wide(const std::string& utf8);

// Opens the channel to `printer` (its driver key and packet sizes); throws
// when it cannot. A channel left half open must be released first.
void ConnectPrinter(ConfigAPI& api, const PrinterInfoResult& printer);
// Closes the channel; the device is released whatever the printer answered.
void ReleasePrinter(ConfigAPI& api) noexcept;

// Writes to the printer under the document root `rootName`; throw when the
// printer answers unsoundly or refuses. `caller` names the write in the
// error.
void WriteSettings(const std::string& rootName, ConfigAPI& api, const PrinterSettings& settings,
                   const std::string& caller);
void WriteBluetoothProfile(const std::string& rootName, ConfigAPI& api, const BluetoothProfile& profile,
                           const std::string& caller);

// The factory behind a plug-in's export: a new dialog made under the
// plug-in's module state, or null. Nothing may escape through the C export;
// the host shows an empty pane.
template <class Dialog>
CBaseConfigDlg* MakeConfigDialog(AFX_MODULE_STATE* state) noexcept {
    AFX_MANAGE_STATE(state);
    try {
        return std::make_unique<Dialog>().release();
    } catch (...) {
        return nullptr;
    }
}

}  // namespace PluginSupport
