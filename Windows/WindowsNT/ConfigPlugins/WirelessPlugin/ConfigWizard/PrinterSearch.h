// Looks on the local network for one printer, the one just configured over
// USB: browses for "_ptp._tcp", resolves every service it hears of, and
// reports found when a service's TXT record carries the printer's USB vendor
// id ("usbvid=", hexadecimal), product id ("pid=", hexadecimal) and guid
// ("guid=", exactly); not found when 30 seconds pass first.
//
//   CPrinterSearch search(0x3B7D, 0x410F, guid);
//   search.StartSearching(&OnSearchResult, this);  // OnSearchResult(this, found): once
//   ...
//   search.StopSearching();                         // ends it without a report
//
// Call StartSearching, StopSearching and the destructor on a user-interface
// thread that runs a message loop: the time-out is a thread timer of that
// thread and reports there. Found is reported from the DNS-SD pump thread,
// so the callback must only post to its window; it must not block on the
// user-interface thread nor destroy the search. Each search reports at most
// once; after StopSearching (or the destructor) has returned, none reports.
// One search runs at a time in the library: starting one stops the one that
// runs, without a report.
#pragma once

#include "Mfc/WinUser.h"

#include <cstdint>
#include <memory>
#include <string>

class CPrinterSearch {
public:
    class ImplementationDetails;

    static constexpr UINT SearchTimeoutMs = 30000;

    CPrinterSearch(int vendorId, int productId, const std::string& guid);
    ~CPrinterSearch();
    CPrinterSearch(const CPrinterSearch&) = delete;
    CPrinterSearch& operator=(const CPrinterSearch&) = delete;

    void StartSearching(void (*callback)(void* context, bool found), void* context);
    void StopSearching();
    // Whether this search is the one running.
    bool IsSearching() const;

    // The time-out's timer procedure. A timer id that is not the running
    // search's is killed and otherwise ignored.
    static void TimerElapsedEntry(HWND window, UINT message, UINT_PTR id, DWORD time);

protected:
    // Ends the running search without a report: kills its timer, stops
    // browsing.
    void TerminateSearch();
    // Ends the search and reports not found, unless it ended meanwhile.
    void TimerElapsed();

    // The running search, null when none; guarded by the library's search lock.
    static CPrinterSearch* m_SearchingObject;

private:
    void OnServiceResolved(std::uint16_t txtLength, const unsigned char* txtRecord);
    // Takes this search out of the running state under the lock and kills its
    // timer; false when it was not running, so that only one path reports.
    bool EndSearch(void (*&callback)(void*, bool), void*& context);

    const int m_VendorId;
    const int m_ProductId;
    const std::string m_Guid;
    void (*m_Callback)(void*, bool) = nullptr;
    void* m_Context = nullptr;
    UINT_PTR m_TimerId = 0;
    std::unique_ptr<ImplementationDetails> m_Locator;
};
