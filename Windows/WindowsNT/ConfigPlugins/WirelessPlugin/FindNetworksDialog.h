// Lets the printer scan for Wi-Fi networks and offers them for choice. A
// printer record that already holds networks shows them without scanning.
#pragma once

#include "Common/NetConfig/API/ConfigAPI.h"
#include "Common/NetConfig/Settings.h"
#include "Mfc/AfxCmn.h"
#include "NetworksListCtrl.h"
#include "PictureEx.h"

#include <optional>
#include <vector>

class CFindNetworksDialog : public CDialog {
public:
    static constexpr UINT kTemplateId = 12119;

    // How the dialog opens and closes the printer: the owner's own open/close
    // (open throws on failure and returns the open, configuration-mode channel).
    struct PrinterAccess {
        virtual ConfigAPI& OpenPrinter() = 0;
        virtual void ClosePrinter() = 0;  // never throws
    protected:
        ~PrinterAccess() = default;
    };

    CFindNetworksDialog(PrinterAccess& printer, const std::vector<WiFiSettings>& networks,
                        const std::vector<unsigned>& channels, int languageOffset, CWnd* parent);
    ~CFindNetworksDialog() override;

    // The list the owner takes back (after DoModal).
    const std::vector<WiFiSettings>& GetNetworks() const;
    // On OK with a row chosen, else null.
    const WiFiSettings* GetChosenNetwork() const;

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

private:
    // False when the scan could not start (the dialog then ends).
    bool StartScan();
    void OnRescan();
    void OnListDoubleClick(NMHDR* header, LRESULT* result);
    void WaitForScan();
    static void ScanDone(void* context);
    CString String(UINT id) const;

    PrinterAccess& m_printer;
    std::vector<WiFiSettings> m_networks;
    std::vector<unsigned> m_channels;
    int m_languageOffset;
    std::optional<WiFiSettings> m_chosen;
    bool m_printerOpen = false;
    CNetworksListCtrl m_list;
    CPictureEx m_picture;
};
