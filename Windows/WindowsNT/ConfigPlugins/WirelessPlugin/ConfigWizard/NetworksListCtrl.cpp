#include "NetworksListCtrl.h"

#include "ConfigWizardApp.h"
#include "FindNetworks.h"

#include "Mfc/Layer.h"
#include "Tessary/TSException.h"

#include <algorithm>
#include <array>
#include <utility>

namespace {

constexpr UINT kColumnCaptions = 10022;  // four, in column order
constexpr UINT kInfrastructureText = 10026;
constexpr UINT kAdHocText = 10027;
constexpr UINT kOpenText = 10038;
constexpr UINT kSecureText = 10039;
// Per cent of the width left beside a vertical scroll bar.
constexpr std::array<int, 4> kColumnShares{24, 30, 20, 26};

bool OnChannel(const WiFiSettings& network, const std::vector<unsigned>& channels) {
    const int channel = network.GetChannel();
    return channel >= 0 &&
           std::find(channels.begin(), channels.end(), static_cast<unsigned>(channel)) != channels.end();
}

// Key 1 exists only in WEP key sets; a scanned network carries no keys.
const WepSecurity* WepKeys(const WiFiSettings& settings) {
    return dynamic_cast<const WepSecurity*>(&settings.GetSecurity());
}

}  // namespace

CNetworksListCtrl::CNetworksListCtrl() {
    MapNotifyReflect(LVN_ITEMCHANGING, &CNetworksListCtrl::OnItemChanging);
    MapMessage(kScanCompleteMessage, &CNetworksListCtrl::OnScanComplete);
}

CNetworksListCtrl::~CNetworksListCtrl() {
    // The worker uses this object until it has cleared its record.
    WaitForNetworkScan();
}

void CNetworksListCtrl::SetNetworks(const std::vector<WiFiSettings>& networks) {
    networks_ = networks;
}

WiFiSettings& CNetworksListCtrl::GetNetwork(int index) {
    return networks_.at(static_cast<std::size_t>(index));
}

const WiFiSettings& CNetworksListCtrl::GetNetwork(int index) const {
    return networks_.at(static_cast<std::size_t>(index));
}

bool CNetworksListCtrl::IsScanRunning() {
    std::lock_guard lock(scanMutex_);
    return scanThread_ != nullptr;
}

void CNetworksListCtrl::WaitForNetworkScan() const {
    std::shared_ptr<CWinThread> running;
    {
        std::lock_guard lock(scanMutex_);
        running = scanThread_;
    }
    if (running) WaitForSingleObject(running->m_hThread, INFINITE);
}

void CNetworksListCtrl::SetRequestedSelection(const WiFiSettings& settings) {
    requestedSelection_ = settings;
}

void CNetworksListCtrl::BeginAsyncNetworkScan(ConfigAPI& api, const std::vector<unsigned>& channels,
                                              void (*done)(void*), void* context) {
    if (IsScanRunning()) {
        TS_THROW(Tessary::TSLogicError,
                 "CNetworksListCtrl::BeginAsyncNetworkScan called when a scan is already running");
    }
    api_ = &api;
    channels_ = channels;
    done_ = done;
    doneContext_ = context;
    if (requestedSelection_.GetSSID().empty()) {
        const int selected = GetSelectedIndex();
        requestedSelection_ = selected >= 0 ? GetNetwork(selected) : WiFiSettings();
    }
    DeleteAllItems();

    // Held until it is recorded: the worker clears the record when it ends.
    std::shared_ptr<CWinThread> thread(
        AfxBeginThread(&NetworkScanThreadProcEntry, this, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED));
    if (!thread) TS_THROW(Tessary::TSRuntimeError, "The network scan thread could not be started");
    thread->m_bAutoDelete = FALSE;
    {
        std::lock_guard lock(scanMutex_);
        scanThread_ = thread;
        ++scanTag_;
        scanWindow_ = m_hWnd;
    }
    thread->ResumeThread();
}

unsigned CNetworksListCtrl::NetworkScanThreadProcEntry(void* list) {
    static_cast<CNetworksListCtrl*>(list)->NetworkScanThreadProc();
    return 0;
}

void CNetworksListCtrl::NetworkScanThreadProc() {
    networks_.clear();
    // A failed scan (the channel's error or an unreadable answer) finds
    // nothing, and completes like any other.
    Tessary::CatchAtBorder<bool>([&] { return FindNetworks(*api_, networks_); }, [](const char*) { return false; });

    std::shared_ptr<CWinThread> self;
    HWND window;
    WPARAM tag;
    {
        std::lock_guard lock(scanMutex_);
        self = std::move(scanThread_);
        window = scanWindow_;
        tag = scanTag_;
    }
    // From here on this object may be gone; only the copies above are used.
    PostMessageW(window, kScanCompleteMessage, tag, 0);
}

LRESULT CNetworksListCtrl::OnScanComplete(WPARAM tag, LPARAM) {
    // The report of an earlier scan that a new one has overtaken: its
    // caller's channel now serves the new worker.
    if (tag != scanTag_ || IsScanRunning()) return 0;
    const auto done = std::exchange(done_, nullptr);
    void* const context = doneContext_;
    try {
        if (GetItemCount() == 0) RefreshList(channels_, false);
    } catch (...) {
        requestedSelection_ = WiFiSettings();
        if (done) done(context);
        throw;
    }
    if (done) done(context);
    requestedSelection_ = WiFiSettings();
    return 0;
}

void CNetworksListCtrl::MakeColumns(int languageOffset) {
    CRect client;
    GetClientRect(&client);
    const int width = client.Width() - GetSystemMetrics(SM_CXVSCROLL);
    for (std::size_t i = 0; i < kColumnShares.size(); ++i) {
        const CString caption = Mfc::LoadLocalizedString(kColumnCaptions + static_cast<UINT>(i), languageOffset);
        InsertColumn(static_cast<int>(i), caption, LVCFMT_LEFT, width * kColumnShares[i] / 100);
    }
    SetExtendedStyle(GetExtendedStyle() | LVS_EX_FULLROWSELECT);
}

void CNetworksListCtrl::RefreshList(const std::vector<unsigned>& channels, bool selectFirst) {
    AFX_MANAGE_STATE(ElvintorModuleState());
    const int offset = Mfc::LanguageOffset(GetUserDefaultLangID());
    const CHeaderCtrl* header = GetHeaderCtrl();
    if (header == nullptr || header->GetItemCount() == 0) MakeColumns(offset);

    const CString infrastructure = Mfc::LoadLocalizedString(kInfrastructureText, offset);
    const CString adHoc = Mfc::LoadLocalizedString(kAdHocText, offset);
    const CString open = Mfc::LoadLocalizedString(kOpenText, offset);
    const CString secure = Mfc::LoadLocalizedString(kSecureText, offset);

    bool selected = false;
    for (std::size_t index = 0; index < networks_.size(); ++index) {
        const WiFiSettings& network = networks_[index];
        if (!OnChannel(network, channels)) continue;
        const int row =
            InsertItem(GetItemCount(), network.GetMode() == WIFI_MODE_INFRASTRUCTURE ? infrastructure : adHoc);
        if (row < 0) continue;
        SetItemText(row, 1, network.GetSSID().c_str());
        CString channelText;
        channelText.Format(u"%d", network.GetChannel());
        SetItemText(row, 2, channelText);
        SetItemText(row, 3, network.GetDataMode() == DATA_MODE_NONE ? open : secure);
        SetItemData(row, index);

        if (!selected && !requestedSelection_.GetSSID().empty() && IsSameNetwork(network, requestedSelection_)) {
            listSelecting_ = true;
            selected = SetItemState(row, LVIS_SELECTED, LVIS_SELECTED) != FALSE;
            listSelecting_ = false;
        }
    }
    if (!selected && selectFirst && GetItemCount() > 0) {
        listSelecting_ = true;
        SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
        listSelecting_ = false;
    }
}

void CNetworksListCtrl::ShowSelection(const WiFiSettings& settings) {
    int wanted = -1;
    for (int row = 0; row < GetItemCount() && wanted < 0; ++row) {
        const auto index = static_cast<std::size_t>(GetItemData(row));
        if (index < networks_.size() && IsSameNetwork(networks_[index], settings)) wanted = row;
    }
    listSelecting_ = true;
    if (wanted >= 0) {
        SetItemState(wanted, LVIS_SELECTED, LVIS_SELECTED);
    } else {
        for (int row = GetNextItem(-1, LVNI_SELECTED); row >= 0; row = GetNextItem(-1, LVNI_SELECTED)) {
            if (!SetItemState(row, 0, LVIS_SELECTED)) break;
        }
    }
    listSelecting_ = false;
}

void CNetworksListCtrl::FillIfEmpty() {
    if (GetItemCount() == 0 && !networks_.empty()) RefreshList(channels_, false);
}

int CNetworksListCtrl::GetSelectedIndex() {
    WaitForNetworkScan();
    FillIfEmpty();
    const int row = GetNextItem(-1, LVNI_SELECTED);
    return row < 0 ? -1 : static_cast<int>(GetItemData(row));
}

int CNetworksListCtrl::FindNetwork(const WiFiSettings& settings) const {
    WaitForNetworkScan();
    // The rows are the window's, not part of what this object answers.
    const_cast<CNetworksListCtrl*>(this)->FillIfEmpty();
    for (std::size_t index = 0; index < networks_.size(); ++index) {
        if (OnChannel(networks_[index], channels_) && IsSameNetwork(networks_[index], settings))
            return static_cast<int>(index);
    }
    return -1;
}

bool CNetworksListCtrl::IsSameNetwork(const WiFiSettings& a, const WiFiSettings& b) {
    if (a.GetSSID() != b.GetSSID() || a.GetMode() != b.GetMode()) return false;
    if (a.GetMode() != WIFI_MODE_INFRASTRUCTURE && a.GetChannel() != b.GetChannel()) return false;
    if (a.GetNetworkMode() != b.GetNetworkMode() || a.GetDataMode() != b.GetDataMode()) return false;
    if (a.GetDataMode() != DATA_MODE_NONE) {
        const WepSecurity* keysA = WepKeys(a);
        const WepSecurity* keysB = WepKeys(b);
        if (keysA != nullptr && keysB != nullptr && keysA->GetKey(1) != keysB->GetKey(1)) return false;
    }
    return true;
}

void CNetworksListCtrl::OnItemChanging(NMHDR* header, LRESULT* result) {
    const auto& change = *reinterpret_cast<const NMLISTVIEW*>(header);
    *result = FALSE;
    if ((change.uChanged & LVIF_STATE) == 0) return;
    const bool was = (change.uOldState & LVIS_SELECTED) != 0;
    const bool will = (change.uNewState & LVIS_SELECTED) != 0;
    if (was && !will) {
        // Clicking empty space never leaves the list without a selection;
        // the list itself may.
        POINT point = GetCurrentMessage()->pt;
        ScreenToClient(&point);
        if (!listSelecting_ && HitTest(point) < 0) *result = TRUE;
    } else if (!was && will) {
        if (CWnd* parent = GetParent()) {
            parent->PostMessage(kNetworkSelectedMessage, listSelecting_ ? kSelectedByList : kSelectedByUser,
                                reinterpret_cast<LPARAM>(m_hWnd));
        }
    }
}
