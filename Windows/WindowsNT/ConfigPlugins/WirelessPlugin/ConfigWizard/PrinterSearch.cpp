#include "PrinterSearch.h"

#include "Tessary/StrToL.h"
#include "Windows/WindowsNT/BonjourWrapper/ServiceLocator.h"

#include <list>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>

namespace {

// Guards the running search and the callback, context and timer id of every
// search: the pump thread's match and the starting thread's time-out race
// for the one report. Never held across a callback, a timer call or a join.
std::mutex& SearchLock() {
    static std::mutex lock;
    return lock;
}

// The value after `key` when the entry starts with it.
std::optional<std::string_view> ValueOf(std::string_view entry, const std::string& key) {
    if (entry.substr(0, key.size()) != key) return std::nullopt;
    return entry.substr(key.size());
}

// Hexadecimal as strtol base 16 reads it; nothing when there is no digit.
std::optional<int> HexValue(std::string_view text) {
    std::size_t consumed = 0;
    const auto value = Tessary::StrToL(text, &consumed, 16);
    if (consumed == 0) return std::nullopt;
    return value;
}

}  // namespace

class CPrinterSearch::ImplementationDetails : public Bonjour::ServiceLocator {
public:
    explicit ImplementationDetails(CPrinterSearch& owner)
        : ServiceLocator(Bonjour::PtpServiceType, false), owner_(owner) {}
    ~ImplementationDetails() override { StopBrowsing(); }

    void ServiceAdded(std::uint32_t interfaceIndex, const char* name, const char* type, const char* domain) override {
        ResolveService(interfaceIndex, name ? name : "", type ? type : "", domain ? domain : "");
    }
    void ServiceRemoved(std::uint32_t, const char*, const char*, const char*) override {}
    void ServiceResolved(std::uint32_t, const char*, const char*, std::uint16_t, std::uint16_t txtLength,
                         const unsigned char* txtRecord) override {
        owner_.OnServiceResolved(txtLength, txtRecord);
    }

private:
    CPrinterSearch& owner_;
};

CPrinterSearch* CPrinterSearch::m_SearchingObject = nullptr;

CPrinterSearch::CPrinterSearch(int vendorId, int productId, const std::string& guid)
    : m_VendorId(vendorId),
      m_ProductId(productId),
      m_Guid(guid),
      m_Locator(std::make_unique<ImplementationDetails>(*this)) {}

CPrinterSearch::~CPrinterSearch() {
    StopSearching();
    m_Locator.reset();
}

void CPrinterSearch::StartSearching(void (*callback)(void*, bool), void* context) {
    // One search at a time: the running one, this one's earlier run included,
    // ends first without a report, so that its timer cannot end this run.
    CPrinterSearch* running;
    {
        std::lock_guard lock(SearchLock());
        running = m_SearchingObject;
    }
    if (running && running != this) running->StopSearching();
    StopSearching();

    {
        std::lock_guard lock(SearchLock());
        m_Callback = callback;
        m_Context = context;
        m_SearchingObject = this;
        m_TimerId = ::SetTimer(nullptr, 0, SearchTimeoutMs, &CPrinterSearch::TimerElapsedEntry);
    }
    // A browse that cannot start leaves the time-out to end the search.
    m_Locator->StartBrowsing(Bonjour::PtpServiceType, std::string());
}

void CPrinterSearch::StopSearching() {
    TerminateSearch();
    // Joins the pump: a report it was making has been made when this returns.
    m_Locator->StopBrowsing();
}

bool CPrinterSearch::IsSearching() const {
    std::lock_guard lock(SearchLock());
    return m_SearchingObject == this;
}

bool CPrinterSearch::EndSearch(void (*&callback)(void*, bool), void*& context) {
    UINT_PTR timer;
    {
        std::lock_guard lock(SearchLock());
        if (m_SearchingObject != this) return false;
        m_SearchingObject = nullptr;
        timer = std::exchange(m_TimerId, 0);
        callback = m_Callback;
        context = m_Context;
    }
    // KillTimer may be called from any thread; a kill that loses the race
    // with the timer's own thread leaves a stale id, which the timer
    // procedure ignores and kills there.
    if (timer != 0) ::KillTimer(nullptr, timer);
    return true;
}

void CPrinterSearch::TerminateSearch() {
    void (*callback)(void*, bool) = nullptr;
    void* context = nullptr;
    if (EndSearch(callback, context)) m_Locator->StopBrowsing();
}

void CPrinterSearch::TimerElapsed() {
    void (*callback)(void*, bool) = nullptr;
    void* context = nullptr;
    const bool ended = EndSearch(callback, context);
    m_Locator->StopBrowsing();
    if (ended && callback) callback(context, false);
}

void CPrinterSearch::TimerElapsedEntry(HWND, UINT, UINT_PTR id, DWORD) {
    CPrinterSearch* search;
    {
        std::lock_guard lock(SearchLock());
        search = m_SearchingObject;
        if (search && search->m_TimerId != id) search = nullptr;
    }
    if (!search) {
        // The timer of a search that ended or was replaced.
        ::KillTimer(nullptr, id);
        return;
    }
    // Only the thread running this procedure, the one that started the
    // search, destroys it, so it is still there.
    search->TimerElapsed();
}

void CPrinterSearch::OnServiceResolved(std::uint16_t txtLength, const unsigned char* txtRecord) {
    std::list<std::string> entries;
    if (txtRecord && txtLength > 0)
        Bonjour::ServiceLocator::SplitTxtRecord(std::string(reinterpret_cast<const char*>(txtRecord), txtLength),
                                                entries);
    std::optional<int> vendorId;
    std::optional<int> productId;
    std::optional<std::string_view> guid;
    for (const auto& entry : entries) {
        if (auto value = ValueOf(entry, Bonjour::TxtKeyUsbVid))
            vendorId = HexValue(*value);
        else if (auto value = ValueOf(entry, Bonjour::TxtKeyPid))
            productId = HexValue(*value);
        else if (auto value = ValueOf(entry, Bonjour::TxtKeyGuid))
            guid = *value;
    }
    if (vendorId != m_VendorId || productId != m_ProductId || guid != std::string_view(m_Guid)) return;

    void (*callback)(void*, bool) = nullptr;
    void* context = nullptr;
    if (!EndSearch(callback, context)) return;
    // On the pump thread: the pump ends once this reply has been handled.
    m_Locator->StopBrowsing();
    if (callback) callback(context, true);
}
