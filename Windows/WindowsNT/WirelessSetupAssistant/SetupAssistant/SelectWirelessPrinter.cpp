#include "SelectWirelessPrinter.h"

#include "Common/Headers/PrinterDescription.h"
#include "PortMonitorException.h"
#include "PrinterInstallRules.h"
#include "SetupAssistantResources.h"
#include "Tessary/StrToL.h"
#include "Tessary/TSException.h"
#include "Tessary/i8n/I8NString.h"
#include "Windows/Common/HelpLauncher.h"
#include "Windows/Common/ResourceDLL.h"

#include <algorithm>
#include <atomic>
#include <list>
#include <string_view>

using PortMonitorUtilities::PortMonitorException;

namespace {

constexpr std::uint32_t kGenFailure = 31;
constexpr std::uint32_t kInvalidParameter = 87;
constexpr DWORD kWizBack = 0x1;
constexpr DWORD kWizBackNext = 0x3;

std::atomic<long> gLiveRecords{0};

std::u16string Widen(const std::string& utf8) {
    return std::u16string(Tessary::I8NString(utf8).c_str());
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The instance name of a resolved service: its full name cut at the last
// "._ptp._tcp.local.", with the DNS-SD escapes undone so that it matches
// the plain name a removal carries.
std::string InstanceName(std::string_view fullName) {
    const std::size_t cut = fullName.rfind(Bonjour::PtpFullNameSuffix);
    if (cut != std::string_view::npos) fullName = fullName.substr(0, cut);
    return Bonjour::ServiceLocator::UnescapeName(std::string(fullName));
}

}  // namespace

// ---------------------------------------------------------------------------
// Records

void SelectWirelessPrinter::RecordDeleter::operator()(XcvPortRecord* record) const {
    if (record == nullptr) return;
    delete record;
    --gLiveRecords;
}

SelectWirelessPrinter::RecordPtr SelectWirelessPrinter::NewRecord(const XcvPortRecord& record) {
    RecordPtr copy(new XcvPortRecord(record));
    ++gLiveRecords;
    return copy;
}

long SelectWirelessPrinter::LiveRecords() {
    return gLiveRecords.load();
}

// ---------------------------------------------------------------------------
// The browser

SelectWirelessPrinter::InternalImplementation::InternalImplementation()
    : ServiceLocator(Bonjour::PtpServiceType, false) {
    if (!LoadPrinterConfig(GetPrinterConfigPath(), printers_)) {
        TS_THROW(Tessary::TSException,
                 "LoadPrinterConfig returned failure in SelectWirelessPrinter::InternalImplementation");
    }
}

SelectWirelessPrinter::InternalImplementation::~InternalImplementation() {
    Stop();
}

bool SelectWirelessPrinter::InternalImplementation::Start(HWND page) {
    {
        std::lock_guard lock(mutex_);
        page_ = page;
    }
    if (!browsing_) browsing_ = StartBrowsing(Bonjour::PtpServiceType, Bonjour::LocalDomain);
    return browsing_;
}

void SelectWirelessPrinter::InternalImplementation::Stop() {
    // The pump has ended when StopBrowsing returns, so nothing is posted
    // after the reports below are freed.
    StopBrowsing();
    browsing_ = false;
    std::map<const PrinterReport*, std::unique_ptr<PrinterReport>> unclaimed;
    {
        std::lock_guard lock(mutex_);
        page_ = nullptr;
        unclaimed.swap(unclaimed_);
    }
}

std::unique_ptr<SelectWirelessPrinter::PrinterReport> SelectWirelessPrinter::InternalImplementation::Claim(
    LPARAM post) {
    std::lock_guard lock(mutex_);
    const auto found = unclaimed_.find(reinterpret_cast<const PrinterReport*>(post));
    if (found == unclaimed_.end()) return nullptr;
    auto report = std::move(found->second);
    unclaimed_.erase(found);
    return report;
}

void SelectWirelessPrinter::InternalImplementation::Post(std::unique_ptr<PrinterReport> report) {
    std::unique_ptr<PrinterReport> refused;
    std::lock_guard lock(mutex_);
    if (page_ == nullptr) return;
    const PrinterReport* key = report.get();
    unclaimed_.emplace(key, std::move(report));
    if (!::PostMessageW(page_, kPrinterReport, 0, reinterpret_cast<LPARAM>(key))) {
        // Freed once the lock is let go.
        const auto found = unclaimed_.find(key);
        refused = std::move(found->second);
        unclaimed_.erase(found);
    }
}

std::u16string SelectWirelessPrinter::InternalImplementation::ModelName(std::uint32_t vendorId,
                                                                        std::uint32_t productId) const {
    const auto model = std::find_if(printers_.begin(), printers_.end(), [&](const PrinterConfig& p) {
        return static_cast<std::uint32_t>(p.vendorId) == vendorId &&
               static_cast<std::uint32_t>(p.productId) == productId;
    });
    if (model == printers_.end()) return {};
    try {
        const StResourceString name(static_cast<unsigned>(model->longNameResourceId));
        return std::u16string(static_cast<const WCHAR*>(name));
    } catch (const Tessary::TSException&) {
        return {};
    }
}

void SelectWirelessPrinter::InternalImplementation::ServiceAdded(std::uint32_t interfaceIndex, const char* serviceName,
                                                                 const char* serviceType, const char* domain) {
    ResolveService(interfaceIndex, serviceName ? serviceName : "", serviceType ? serviceType : "",
                   domain ? domain : "");
}

void SelectWirelessPrinter::InternalImplementation::ServiceRemoved(std::uint32_t, const char* serviceName, const char*,
                                                                   const char*) {
    if (serviceName == nullptr || *serviceName == 0) return;
    auto report = std::make_unique<PrinterReport>();
    report->instance = Widen(serviceName);
    Post(std::move(report));
}

void SelectWirelessPrinter::InternalImplementation::ServiceResolved(std::uint32_t, const char* fullName,
                                                                    const char* hostTarget, std::uint16_t port,
                                                                    std::uint16_t txtLength,
                                                                    const unsigned char* txtRecord) {
    if (fullName == nullptr || hostTarget == nullptr || *hostTarget == 0) return;
    std::list<std::string> entries;
    if (txtRecord != nullptr) {
        SplitTxtRecord(std::string(reinterpret_cast<const char*>(txtRecord), txtLength), entries);
    }
    std::uint32_t vendorId = 0;
    std::uint32_t productId = 0;
    std::string guid;
    for (const std::string& entry : entries) {
        if (StartsWith(entry, Bonjour::TxtKeyUsbVid)) {
            vendorId = static_cast<std::uint32_t>(
                Tessary::StrToL(std::string_view(entry).substr(Bonjour::TxtKeyUsbVid.size()), nullptr, 16));
        } else if (StartsWith(entry, Bonjour::TxtKeyPid)) {
            productId = static_cast<std::uint32_t>(
                Tessary::StrToL(std::string_view(entry).substr(Bonjour::TxtKeyPid.size()), nullptr, 16));
        } else if (StartsWith(entry, Bonjour::TxtKeyGuid)) {
            guid = entry.substr(Bonjour::TxtKeyGuid.size());
        }
    }
    const auto record =
        PortMonitorUtilities::NetworkPortRecord(vendorId, productId, Widen(guid), Widen(hostTarget), port);
    if (!record) return;
    auto report = std::make_unique<PrinterReport>();
    report->instance = Widen(InstanceName(fullName));
    if (report->instance.empty()) return;
    report->record = NewRecord(*record);
    Post(std::move(report));
}

// ---------------------------------------------------------------------------
// The list

SelectWirelessPrinter::PrinterList::~PrinterList() {
    Detach();
}

void SelectWirelessPrinter::PrinterList::Attach(HWND list) {
    if (list == nullptr || !::IsWindow(list)) throw PortMonitorException(kInvalidParameter);
    WCHAR className[64] = {};
    if (::GetClassNameW(list, className, 64) == 0 || !PortMonitorUtilities::EqualsNoCase(className, WC_LISTVIEW)) {
        throw PortMonitorException(kGenFailure);
    }
    ::SetLastError(0);
    if (!SubclassWindow(list)) {
        const DWORD error = ::GetLastError();
        throw PortMonitorException(error != 0 ? error : kGenFailure);
    }
    ModifyStyle(0, LVS_SINGLESEL);
    SetExtendedStyle(GetExtendedStyle() | LVS_EX_FULLROWSELECT);
    ::SetPropW(list, kInstanceProperty, reinterpret_cast<HANDLE>(this));
}

void SelectWirelessPrinter::PrinterList::Detach() {
    if (!IsAttached()) return;
    for (int row = GetItemCount() - 1; row >= 0; --row) FreeRecord(row);
    ::RemovePropW(m_hWnd, kInstanceProperty);
    UnsubclassWindow();
}

const XcvPortRecord* SelectWirelessPrinter::PrinterList::RecordOf(int row) const {
    if (!IsAttached() || row < 0 || row >= GetItemCount()) return nullptr;
    LVITEMW item;
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (!::SendMessageW(m_hWnd, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return nullptr;
    return reinterpret_cast<const XcvPortRecord*>(item.lParam);
}

int SelectWirelessPrinter::PrinterList::FindRow(std::u16string_view text) const {
    const int count = GetItemCount();
    for (int row = 0; row < count; ++row) {
        if (std::u16string_view(GetItemText(row, 0)) == text) return row;
    }
    return -1;
}

void SelectWirelessPrinter::PrinterList::ReplaceRecord(int row, RecordPtr record) {
    FreeRecord(row);
    if (SetItemData(row, reinterpret_cast<DWORD_PTR>(record.get()))) record.release();
}

void SelectWirelessPrinter::PrinterList::FreeRecord(int row) {
    RecordPtr record(reinterpret_cast<XcvPortRecord*>(GetItemData(row)));
    // Zeroed first: nothing may reach a freed record through the row.
    if (record) SetItemData(row, 0);
}

LRESULT SelectWirelessPrinter::PrinterList::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_KILLFOCUS:
            // The selection stays highlighted while another control has the
            // focus.
            return 1;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
        case WM_RBUTTONDOWN:
        case WM_RBUTTONDBLCLK: {
            SetFocus();
            LVHITTESTINFO hit;
            hit.pt = POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            // A click on no row would clear the selection.
            if (HitTest(&hit) < 0) return 0;
            break;
        }
        case LVM_DELETEITEM: {
            const int row = static_cast<int>(static_cast<std::intptr_t>(wParam));
            const int count = GetItemCount();
            if (row < 0 || row >= count) break;
            FreeRecord(row);
            if (count >= 2 && (GetItemState(row, LVIS_SELECTED) & LVIS_SELECTED) != 0) {
                const int next = row + 1 < count ? row + 1 : row - 1;
                SetItemState(next, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
            }
            break;
        }
        case LVM_DELETEALLITEMS:
            for (int row = GetItemCount() - 1; row >= 0; --row) FreeRecord(row);
            break;
        default:
            break;
    }
    return CListCtrl::WindowProc(message, wParam, lParam);
}

// ---------------------------------------------------------------------------
// The page

SelectWirelessPrinter::SelectWirelessPrinter(CWizardEngine* engine)
    : WSAPageBase(IDD, engine), browser_(std::make_unique<InternalImplementation>()) {
    MapNotify(LVN_ITEMCHANGED, kPrinterList, [this](NMHDR*, LRESULT*) { UpdateWizardButtons(); });
    MapCommand(kHelpButton, [this] {
        if (OpenHelp(m_hWnd, u"VelmoWirelessPrinter.chm")) return;
        const StResourceString text(SetupAssistant::IDS_HELP_UNAVAILABLE);
        const StResourceString title(SetupAssistant::IDS_WSA_TITLE);
        ::MessageBoxW(m_hWnd, text, title, MB_OK | MB_ICONINFORMATION);
    });
    MapMessage(kPrinterReport, &SelectWirelessPrinter::OnPrinterReport);
}

SelectWirelessPrinter::~SelectWirelessPrinter() {
    TearDown();
}

BOOL SelectWirelessPrinter::OnInitDialog() {
    WSAPageBase::OnInitDialog();
    if (!browser_) throw PortMonitorException(kGenFailure);
    list_.Attach(::GetDlgItem(m_hWnd, kPrinterList));
    const StResourceString heading(kColumnHeading);
    if (list_.InsertColumn(0, heading, LVCFMT_LEFT, 290) < 0 || list_.InsertColumn(0, heading, LVCFMT_LEFT, 125) < 0) {
        throw PortMonitorException(kGenFailure);
    }
    browser_->Start(m_hWnd);
    return TRUE;
}

BOOL SelectWirelessPrinter::OnSetActive() {
    UpdateWizardButtons();
    return WSAPageBase::OnSetActive();
}

LRESULT SelectWirelessPrinter::OnWizardNext() {
    const int row = list_.IsAttached() ? list_.GetNextItem(-1, LVNI_SELECTED) : -1;
    // Staying: nothing goes onto the history.
    if (row < 0) return -1;
    bool installed = false;
    try {
        const XcvPortRecord* record = list_.RecordOf(row);
        if (record == nullptr) throw PortMonitorException(kGenFailure);
        m_engine->PrinterRecord() = *record;
        installed = m_engine->InstallPrinter(false);
    } catch (...) {
        installed = false;
    }
    WSAPageBase::OnWizardNext();
    return installed ? kStandAloneAdded : kPrinterNotAdded;
}

LRESULT SelectWirelessPrinter::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) TearDown();
    return WSAPageBase::WindowProc(message, wParam, lParam);
}

void SelectWirelessPrinter::TearDown() {
    // The browser's thread ends before the list lets go of its records.
    if (browser_) browser_->Stop();
    list_.Detach();
}

void SelectWirelessPrinter::UpdateWizardButtons() {
    const bool selected = list_.IsAttached() && list_.GetSelectedCount() > 0;
    if (HWND sheet = ::GetParent(m_hWnd)) {
        ::PostMessageW(sheet, PSM_SETWIZBUTTONS, 0, static_cast<LPARAM>(selected ? kWizBackNext : kWizBack));
    }
}

LRESULT SelectWirelessPrinter::OnPrinterReport(WPARAM, LPARAM post) {
    auto report = browser_ ? browser_->Claim(post) : nullptr;
    if (!report || !list_.IsAttached()) return 0;
    if (report->record) {
        AddOrUpdateRow(*report);
    } else if (const int row = list_.FindRow(report->instance); row >= 0) {
        list_.DeleteItem(row);
        // A deleted row reports no change of its own: the last selected row
        // going would leave Next on.
        UpdateWizardButtons();
    }
    return 0;
}

void SelectWirelessPrinter::AddOrUpdateRow(PrinterReport& report) {
    const std::u16string model = browser_->ModelName(report.record->vendorId, report.record->productId);
    // A service is heard of again on another interface or when it
    // announces itself anew: one row, brought up to date.
    if (const int row = list_.FindRow(report.instance); row >= 0) {
        list_.ReplaceRecord(row, std::move(report.record));
        list_.SetItemText(row, 1, model.c_str());
        return;
    }
    LVITEMW item;
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = list_.GetItemCount();
    item.pszText = report.instance.data();
    item.lParam = reinterpret_cast<LPARAM>(report.record.get());
    const int row = list_.InsertItem(&item);
    if (row < 0) return;
    report.record.release();
    list_.SetItemText(row, 1, model.c_str());
    if (list_.GetItemCount() == 1) list_.SetItemState(row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}
