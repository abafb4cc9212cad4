#include "TestProgressDialog.h"

#include "Mfc/Layer.h"
#include "Platform/Resource.h"

namespace {

constexpr int kPicture = 12042;
constexpr UINT kSearchingPicture = 111;
constexpr const char16_t* kPictureType = u"GIF";

}  // namespace

CTestProgressDialog::CTestProgressDialog(int vendorId, int productId, const std::string& guid, int languageOffset,
                                         CWnd* parent)
    : CDialog(kTemplateId, parent), m_search(vendorId, productId, guid), m_languageOffset(languageOffset) {
    MapMessage(kSearchDoneMessage, &CTestProgressDialog::OnSearchDone);
}

CTestProgressDialog::~CTestProgressDialog() {
    StopSearch();
}

BOOL CTestProgressDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    SetWindowText(Mfc::LoadLocalizedString(10109, m_languageOffset));
    SetDlgItemText(IDCANCEL, Mfc::LoadLocalizedString(10092, m_languageOffset));
    if (m_picture.SubclassDlgItem(kPicture, this) &&
        m_picture.Load(MAKEINTRESOURCEW(kSearchingPicture), kPictureType)) {
        m_picture.Draw();
    }
    m_search.StartSearching(&CTestProgressDialog::OnSearchResult, this);
    return TRUE;
}

// On the DNS-SD pump thread (found) or this thread's timer (not found): only
// posts. The window outlives every report: StopSearching joins the pump
// before the window goes.
void CTestProgressDialog::OnSearchResult(void* context, bool found) {
    auto* self = static_cast<CTestProgressDialog*>(context);
    ::PostMessageW(self->m_hWnd, kSearchDoneMessage, found ? 1 : 0, 0);
}

LRESULT CTestProgressDialog::OnSearchDone(WPARAM found, LPARAM) {
    StopSearch();
    EndDialog((found & 0xFF) != 0 ? IDOK : IDCANCEL);
    return 0;
}

void CTestProgressDialog::OnCancel() {
    StopSearch();
    CDialog::OnCancel();
}

BOOL CTestProgressDialog::DestroyWindow() {
    StopSearch();
    return CDialog::DestroyWindow();
}

void CTestProgressDialog::StopSearch() {
    m_search.StopSearching();
    if (m_picture.m_hWnd != nullptr) m_picture.Stop();
}
