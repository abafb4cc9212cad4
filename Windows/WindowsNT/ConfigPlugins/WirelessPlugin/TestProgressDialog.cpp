#include "TestProgressDialog.h"

CTestProgressDialog::CTestProgressDialog(int vendorId, int productId, const std::string& guid, int languageOffset,
                                         CWnd* parent)
    : CDialog(kTemplateId, parent), m_search(vendorId, productId, guid), m_languageOffset(languageOffset) {}
CTestProgressDialog::~CTestProgressDialog() = default;
BOOL CTestProgressDialog::OnInitDialog() {
    return CDialog::OnInitDialog();
}
void CTestProgressDialog::OnCancel() {
    CDialog::OnCancel();
}
BOOL CTestProgressDialog::DestroyWindow() {
    return CDialog::DestroyWindow();
}
void CTestProgressDialog::OnSearchResult(void*, bool) {}
LRESULT CTestProgressDialog::OnSearchDone(WPARAM, LPARAM) {
    return 0;
}
void CTestProgressDialog::StopSearch() {}
