#include "AdvancedDialog.h"

CAdvancedDialog::CAdvancedDialog(Profile& profile, bool adHocChecked, int languageOffset, CWnd* parent)
    : CDialog(kTemplateId, parent), m_profile(profile), m_adHoc(adHocChecked), m_languageOffset(languageOffset) {}

BOOL CAdvancedDialog::OnInitDialog() {
    return CDialog::OnInitDialog();
}
void CAdvancedDialog::OnOK() {
    CDialog::OnOK();
}
void CAdvancedDialog::UpdateControlStates() {}
void CAdvancedDialog::OnOptionsChanged() {}
void CAdvancedDialog::OnHelp() {}
CString CAdvancedDialog::String(UINT) const {
    return CString();
}
