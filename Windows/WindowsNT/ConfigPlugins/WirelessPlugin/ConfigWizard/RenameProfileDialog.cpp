#include "RenameProfileDialog.h"

#include "ConfigWizardApp.h"

#include "Mfc/Layer.h"
#include "Tessary/TSException.h"
#include "Tessary/i8n/I8NString.h"

namespace {

constexpr int kNameEdit = 13001;
constexpr int kNameLabel = 13138;
// Profile names travel to the printer as at most this many bytes.
constexpr std::size_t kMaxNameBytes = 64;
constexpr UINT kMaxNameUnits = 64;

constexpr unsigned kDuplicateName = 10031;
constexpr unsigned kNameTooLong = 10032;
constexpr unsigned kNameEmpty = 10036;
constexpr unsigned kNameInvalid = 10076;
constexpr unsigned kOkText = 10091;
constexpr unsigned kCancelText = 10092;
constexpr unsigned kCaption = 10095;
constexpr unsigned kLabelText = 10096;
constexpr unsigned kMessageCaption = 10110;

}  // namespace

CRenameProfileDialog::CRenameProfileDialog(CString currentName, const std::vector<CString>& existingNames, CWnd* parent)
    : CDialog(IDD, parent), m_profileName(currentName), m_currentName(currentName), m_existingNames(existingNames) {
    AFX_MANAGE_STATE(ElvintorModuleState());
}

CRenameProfileDialog::~CRenameProfileDialog() = default;

INT_PTR CRenameProfileDialog::DoModal() {
    AFX_MANAGE_STATE(ElvintorModuleState());
    return CDialog::DoModal();
}

CString CRenameProfileDialog::GetProfileName() const {
    return m_profileName;
}

void CRenameProfileDialog::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, kNameEdit, m_nameEdit);
    DDX_Text(dx, kNameEdit, m_profileName);
    DDX_Control(dx, IDCANCEL, m_cancelButton);
    DDX_Control(dx, IDOK, m_okButton);
    DDX_Control(dx, kNameLabel, m_nameLabel);
}

BOOL CRenameProfileDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    LoadLocalizedStrings();
    m_nameEdit.SetLimitText(kMaxNameUnits);
    m_nameEdit.SetSel(0, -1);
    m_nameEdit.SetFocus();
    return TRUE;
}

void CRenameProfileDialog::LoadLocalizedStrings() {
    m_languageOffset = Mfc::LanguageOffset(GetUserDefaultLangID());
    SetWindowText(LocalizedString(kCaption));
    m_nameLabel.SetWindowText(LocalizedString(kLabelText));
    m_okButton.SetWindowText(LocalizedString(kOkText));
    m_cancelButton.SetWindowText(LocalizedString(kCancelText));
}

unsigned CRenameProfileDialog::GetLocalizedStringID(unsigned id) const {
    return id + static_cast<unsigned>(m_languageOffset);
}

CString CRenameProfileDialog::LocalizedString(unsigned id) const {
    return Mfc::LoadLocalizedString(id, m_languageOffset);
}

void CRenameProfileDialog::RejectName() {
    m_nameEdit.SetSel(0, -1);
    m_nameEdit.SetFocus();
}

void CRenameProfileDialog::OnOK() {
    UpdateData(TRUE);
    if (m_profileName == m_currentName) {
        EndDialog(IDOK);
        return;
    }
    // The checks stop at the first failure: one OK shows at most one message.
    std::string narrow;
    try {
        narrow = Tessary::wc2string(m_profileName, m_profileName.GetLength());
    } catch (const Tessary::TSException&) {
        AfxMessageBox(LocalizedString(kNameInvalid), MB_OK);
        RejectName();
        return;
    }
    if (narrow.empty()) {
        AfxMessageBox(LocalizedString(kNameEmpty), MB_OK);
        RejectName();
        return;
    }
    if (narrow.size() > kMaxNameBytes) {
        AfxMessageBox(LocalizedString(kNameTooLong), MB_OK);
        RejectName();
        return;
    }
    for (const CString& existing : m_existingNames) {
        if (existing == m_profileName) {
            CString text;
            text.Format(LocalizedString(kDuplicateName), m_profileName);
            MessageBox(text, LocalizedString(kMessageCaption), MB_OK);
            RejectName();
            return;
        }
    }
    EndDialog(IDOK);
}
