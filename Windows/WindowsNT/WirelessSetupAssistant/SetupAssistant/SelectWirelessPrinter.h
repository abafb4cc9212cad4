// The page that lists the maker's printers announcing themselves on the
// local network and installs the one the user picks as a network printer.
#pragma once

#include "Common/Headers/PrinterConfig.h"
#include "Common/Headers/XcvPortRecord.h"
#include "Mfc/AfxCmn.h"
#include "WSAPageBase.h"
#include "Windows/WindowsNT/BonjourWrapper/ServiceLocator.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class SelectWirelessPrinter : public WSAPageBase {
public:
    static constexpr UINT IDD = 14138;
    static constexpr int kPrinterList = 1010;
    static constexpr int kHelpButton = 14135;
    static constexpr UINT kStandAloneAdded = 14140;
    static constexpr UINT kPrinterNotAdded = 14142;
    static constexpr UINT kColumnHeading = 6;
    // The browser's reports to the page; lParam names the report.
    static constexpr UINT kPrinterReport = WM_APP + 1;

    struct RecordDeleter {
        void operator()(XcvPortRecord* record) const;
    };
    using RecordPtr = std::unique_ptr<XcvPortRecord, RecordDeleter>;
    static RecordPtr NewRecord(const XcvPortRecord& record);
    // Rows' records alive, whoever holds them (a row, a report on its way).
    static long LiveRecords();

    // A printer that appeared (with its record) or went (without).
    struct PrinterReport {
        std::u16string instance;
        RecordPtr record;
    };

    // Browses for the printers on the browser's own thread and posts each
    // finding to the page; the page claims it when the post arrives.
    class InternalImplementation : public Bonjour::ServiceLocator {
    public:
        // Throws Tessary::TSException when the printer description does not
        // load.
        InternalImplementation();
        ~InternalImplementation() override;

        // Where reports go from now on; false when the browse cannot start.
        // A running browse is left as it is.
        bool Start(HWND page);
        // Ends the browse, waiting for its thread, then frees the reports
        // that were posted and never claimed.
        void Stop();
        // The report of a post; null once Stop has freed it.
        std::unique_ptr<PrinterReport> Claim(LPARAM post);
        // The display name of the supported model with these ids, else empty.
        std::u16string ModelName(std::uint32_t vendorId, std::uint32_t productId) const;

        void ServiceAdded(std::uint32_t interfaceIndex, const char* serviceName, const char* serviceType,
                          const char* domain) override;
        void ServiceRemoved(std::uint32_t interfaceIndex, const char* serviceName, const char* serviceType,
                            const char* domain) override;
        void ServiceResolved(std::uint32_t flags, const char* fullName, const char* hostTarget, std::uint16_t port,
                             std::uint16_t txtLength, const unsigned char* txtRecord) override;

    private:
        void Post(std::unique_ptr<PrinterReport> report);

        std::vector<PrinterConfig> printers_;
        std::mutex mutex_;
        HWND page_ = nullptr;  // guarded by mutex_; null while stopped
        std::map<const PrinterReport*, std::unique_ptr<PrinterReport>> unclaimed_;  // guarded by mutex_
        bool browsing_ = false;                                                     // owner thread only
    };

    // The list control with the rows' records as item data, owned by the
    // list: freed when a row is deleted, the rows are cleared or the list
    // is detached. Keeps its selection when it loses the focus or a click
    // hits no row, and moves it on when the selected row is deleted.
    class PrinterList : public CListCtrl {
    public:
        ~PrinterList() override;

        // Throws PortMonitorUtilities::PortMonitorException: 87 without a
        // window, 31 for a window that is not a list view, else the
        // platform's error.
        void Attach(HWND list);
        // Frees every row's record, the last row first; the rows stay.
        void Detach();
        bool IsAttached() const { return m_hWnd != nullptr; }

        // The record of a row; null for no such row or a row without one.
        const XcvPortRecord* RecordOf(int row) const;
        int FindRow(std::u16string_view text) const;
        // The new record replaces the row's, which is freed.
        void ReplaceRecord(int row, RecordPtr record);

        static constexpr const char16_t* kInstanceProperty = u"RodizuzUzezListViewInstance";

    protected:
        LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    private:
        void FreeRecord(int row);
    };

    // Throws as InternalImplementation does.
    explicit SelectWirelessPrinter(CWizardEngine* engine);
    ~SelectWirelessPrinter() override;

    BOOL OnInitDialog() override;
    BOOL OnSetActive() override;
    LRESULT OnWizardNext() override;

    PrinterList& List() { return list_; }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void TearDown();
    void UpdateWizardButtons();
    LRESULT OnPrinterReport(WPARAM, LPARAM post);
    void AddOrUpdateRow(PrinterReport& report);

    PrinterList list_;
    std::unique_ptr<InternalImplementation> browser_;
};
