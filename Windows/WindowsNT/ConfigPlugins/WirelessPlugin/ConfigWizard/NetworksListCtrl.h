// The list of Wi-Fi networks the printer can see, and the printer's network
// scan on a worker thread. A dialog subclasses its report-style list view
// with it (SubclassDlgItem).
//
//   list.BeginAsyncNetworkScan(api, channels, &ScanDone, this);   // api open
//   ... ScanDone(this) runs later on this (the list's) thread, also after a
//   failed scan; the list then shows the networks on those channels.
//
// The channel stays the caller's: the worker uses it until the scan has
// completed, and the caller leaves it alone (and open) until then.
//
// When a row becomes selected the parent gets WM_USER+37 (1061) with lParam
// the list's window; wParam is kSelectedByUser for a click or a program's
// SetItemState, kSelectedByList when the list selected a row itself (while
// filling: the requested network, or the first row; or ShowSelection). A
// row keeps its selection unless the point of the current message hits
// another row or the list itself changes it.
#pragma once

#include "Common/NetConfig/API/ConfigAPI.h"
#include "Common/NetConfig/Settings.h"
#include "Mfc/AfxCmn.h"

#include <memory>
#include <mutex>
#include <vector>

class CNetworksListCtrl : public CListCtrl {
public:
    static constexpr UINT kNetworkSelectedMessage = WM_USER + 37;
    static constexpr UINT kScanCompleteMessage = WM_USER + 150;
    static constexpr WPARAM kSelectedByUser = 0;
    static constexpr WPARAM kSelectedByList = 1;

    CNetworksListCtrl();
    // Waits for a scan still running.
    ~CNetworksListCtrl() override;

    // Replaces the networks; the rows follow at the next fill.
    void SetNetworks(const std::vector<WiFiSettings>& networks);
    const std::vector<WiFiSettings>& GetNetworks() const { return networks_; }
    // One network, by an index from GetSelectedIndex or FindNetwork;
    // std::out_of_range for any other.
    WiFiSettings& GetNetwork(int index);
    const WiFiSettings& GetNetwork(int index) const;
    bool HasNetworks() { return !networks_.empty(); }

    bool IsScanRunning();
    // Waits without limit for a running scan to end.
    void WaitForNetworkScan() const;
    // The network to select at the next fill of the list.
    void SetRequestedSelection(const WiFiSettings& settings);

    // Starts a scan on the open channel `api`, keeping `channels` as the
    // filter of later fills. TSLogicError while a scan runs (nothing
    // changes); TSRuntimeError when no thread could be started.
    void BeginAsyncNetworkScan(ConfigAPI& api, const std::vector<unsigned>& channels, void (*done)(void*),
                               void* context);
    // Adds a row for each network on one of `channels` and selects the
    // requested network's row, else (selectFirst) the first row.
    void RefreshList(const std::vector<unsigned>& channels, bool selectFirst);
    // Selects the row of the same network as `settings` as the list's own
    // choice (kSelectedByList), or leaves no row selected when none is.
    void ShowSelection(const WiFiSettings& settings);
    // After waiting for a scan and filling an empty list: the network index
    // of the selected row, or -1.
    int GetSelectedIndex();
    // After the same wait and fill: the first network on a kept channel that
    // is the same network as `settings`, or -1.
    int FindNetwork(const WiFiSettings& settings) const;

    // Same SSID (exact), Wi-Fi mode, channel (ad-hoc only), network mode
    // and data mode; and, when both carry WEP key 1, the same key 1. Never
    // throws: keyless scan records and WPA keys are not compared.
    static bool IsSameNetwork(const WiFiSettings& a, const WiFiSettings& b);

    static unsigned NetworkScanThreadProcEntry(void* list);
    void NetworkScanThreadProc();
    LRESULT OnScanComplete(WPARAM tag, LPARAM);
    void OnItemChanging(NMHDR* header, LRESULT* result);

private:
    void MakeColumns(int languageOffset);
    void FillIfEmpty();

    std::vector<WiFiSettings> networks_;
    // The running scan's thread, cleared by the worker when it is done. A
    // waiter holds its own reference, so the handle it waits on stays valid.
    mutable std::mutex scanMutex_;
    std::shared_ptr<CWinThread> scanThread_;
    unsigned scanTag_ = 0;  // numbers the scans; a completion carries its scan's
    HWND scanWindow_ = nullptr;
    void (*done_)(void*) = nullptr;
    void* doneContext_ = nullptr;
    WiFiSettings requestedSelection_;
    ConfigAPI* api_ = nullptr;
    std::vector<unsigned> channels_;
    bool listSelecting_ = false;
};
