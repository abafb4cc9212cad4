// Waits while the printer just configured is searched on the network; ends
// with OK when it was found, Cancel when not or when the user gives up.
#pragma once

#include "Mfc/AfxWin.h"
#include "PictureEx.h"
#include "PrinterSearch.h"

#include <string>

class CTestProgressDialog : public CDialog {
public:
    static constexpr UINT kTemplateId = 111;
    static constexpr UINT kSearchDoneMessage = 1172;

    CTestProgressDialog(int vendorId, int productId, const std::string& guid, int languageOffset, CWnd* parent);
    ~CTestProgressDialog() override;

protected:
    BOOL OnInitDialog() override;
    void OnCancel() override;
    BOOL DestroyWindow() override;

private:
    static void OnSearchResult(void* context, bool found);
    LRESULT OnSearchDone(WPARAM found, LPARAM);
    void StopSearch();

    CPrinterSearch m_search;
    int m_languageOffset;
    CPictureEx m_picture;
};
