// The Wi-Fi pane of the configuration utility: the printer's Wi-Fi profiles
// and, as the last entry of the same list, its Bluetooth settings. One entry
// is edited at a time and applied on its own; the pane also opens the
// advanced settings, the printer's network search, the rename dialog, the
// partial wizard and a connection test.
#pragma once

#include "PrinterCacheEntry.h"

#include "Common/NetConfig/API/Win32ConfigAPI.h"
#include "Common/NetConfig/RegulatoryDomainExpert.h"
#include "Common/NetConfig/Settings.h"
#include "Mfc/AfxWin.h"
#include "Windows/WindowsNT/ConfigPlugins/BaseConfigDlg.h"

#include <memory>

AFX_MODULE_STATE* DessmarModuleState();

// The string-id offset of a language (in thousands; 0 for English and any
// language without strings of its own).
int WirelessLanguageOffset(LANGID language);

class CWirelessConfigDlg : public CBaseConfigDlg {
public:
    // The PIN edit: only digits, the editing and navigation keys and the
    // clipboard chords reach it; a paste only of at most four digits.
    class CNumericEdit : public CEdit {
    public:
        BOOL PreTranslateMessage(MSG* msg) override;
        LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    private:
        static bool ClipboardHoldsPin();
    };

    CWirelessConfigDlg();
    ~CWirelessConfigDlg() override;

    BOOL DestroyWindow() override;
    unsigned GetOptionalButtons() override { return kConfigButtonHelp | kConfigButtonWizard | kConfigButtonTest; }
    int ApplySettings() override;
    int NewPrinterSelected(const PrinterInfoResult& printer, const PrinterConfig& description) override;
    bool AreSettingsSaved() override { return !m_modified; }
    bool IsPrinterSupported(const PrinterInfoResult&, const PrinterConfig&) override { return true; }
    int ShowHelp() override;
    int RunWizard() override;
    int TestConnection() override;
    CString GetPrinterGuid() override;

    // The printer's channel, opened in configuration mode (throws when it
    // cannot be), and its release (never throws).
    ConfigAPI& OpenPrinter();
    void ClosePrinter() noexcept;

protected:
    BOOL OnInitDialog() override;
    // Every message runs under the plug-in's module state.
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    bool BluetoothSelected() const;
    // The factory profile (id 0) is selected: only its names can change.
    bool FactorySelected() const;
    // The Bluetooth entry is selected and the printer refused its settings.
    bool BluetoothUnread() const;
    void FillChannelList();
    void FillProfileList();
    void SelectEntry(int index);
    // Settles unapplied edits before the pane leaves the entry on show (the
    // apply question); false when they stay.
    bool MayLeaveEntry();
    void LoadControls();
    void LoadWiFiControls();
    void UpdateControlStates();
    bool ValidateControls();
    void Reject(UINT messageId, int focusId);
    void StoreControls();
    void UpdateProfileHostID();
    void WriteCurrentSettingsToPrinter();
    void WriteCurrentWiFiProfileToPrinter();
    void WriteCurrentBluetoothProfileToPrinter();
    void RestorePrinterProfiles();
    void ResetEntryText(int index, const CString& text);
    CString String(UINT id) const;
    int Message(UINT id, UINT type);

    void OnProfileChanged();
    void OnEdited();
    void OnSsidChanged();
    void OnAdHocClicked();
    void OnAdvanced();
    void OnFindNetworks();
    void OnRename();

    bool m_modified = false;
    PrinterInfoResult m_printer;
    std::unique_ptr<PrinterCacheEntry> m_record;
    CComboBox m_profileList;
    CComboBox m_channelList;
    CNumericEdit m_pinEdit;
    int m_languageOffset = 0;
    std::unique_ptr<Win32ConfigAPI> m_api;
    Profile m_profile;
    BluetoothProfile m_bluetooth;
    PrinterSettings m_settings;
    bool m_networkWarningShown = false;
    std::unique_ptr<RegulatoryDomainExpert> m_regulatory;
    // Set while the controls are filled: their change notifications are no
    // edits of the user's.
    bool m_loading = false;
};
