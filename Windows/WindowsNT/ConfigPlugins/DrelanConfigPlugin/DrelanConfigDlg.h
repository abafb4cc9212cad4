// The Bluetooth pane of the configuration utility: whether Bluetooth
// printing is on, the printer's Bluetooth name, its PIN and whether it is
// required, the pairing feature, and the paired devices, for the one
// Bluetooth dock model.
#pragma once

#include "Common/NetConfig/API/Win32ConfigAPI.h"
#include "Common/NetConfig/Settings.h"
#include "Mfc/AfxCmn.h"
#include "Windows/WindowsNT/ConfigPlugins/BaseConfigDlg.h"

#include <memory>

AFX_MODULE_STATE* DrelanModuleState();

class CDrelanConfigDlg : public CBaseConfigDlg {
public:
    CDrelanConfigDlg();
    ~CDrelanConfigDlg() override;

    BOOL DestroyWindow() override;
    unsigned GetOptionalButtons() override { return 0; }
    int ApplySettings() override;
    int NewPrinterSelected(const PrinterInfoResult& printer, const PrinterConfig& description) override;
    bool AreSettingsSaved() override { return !m_modified; }
    bool IsPrinterSupported(const PrinterInfoResult& printer, const PrinterConfig& description) override;
    CString GetPrinterGuid() override { return CString(); }
    bool NeedsRescanAfterApply() override { return true; }

protected:
    BOOL OnInitDialog() override;

private:
    // What was read from the selected printer.
    struct PrinterRecord {
        bool loaded = false;
        bool readFailed = false;
        bool refused = false;  // the read was answered with an error
        BluetoothProfile profile;
        PrinterSettings settings;
    };

    void OpenPrinter();
    void ClosePrinter() noexcept;
    void FillControls();
    void UpdateControlStates();
    bool ValidateControls();
    void StoreControls();
    void WriteCurrentSettingsToPrinter();
    void WriteCurrentBluetoothProfileToPrinter();
    CString String(UINT id) const;
    void Reject(UINT messageId, int focusId);
    // Tells the user why an apply failed (`messageId`); the apply's result.
    int Failed(UINT messageId);

    void OnEnabledChanged();
    void OnRequirePinClicked();
    void OnRemovePairing();

    bool m_modified = false;
    PrinterInfoResult m_printer;
    PrinterConfig m_model;
    std::unique_ptr<PrinterRecord> m_record;
    int m_languageOffset = 0;
    std::unique_ptr<Win32ConfigAPI> m_api;
    CListCtrl m_devices;
    bool m_columnsMade = false;
};
