// The Wi-Fi plug-in's advanced settings of one profile: how it gets its IP
// address, and whether it uses WEP with which key.
#pragma once

#include "Common/NetConfig/Settings.h"
#include "Mfc/AfxCmn.h"

#include <string>

class CAdvancedDialog : public CDialog {
public:
    static constexpr UINT kTemplateId = 12120;

    // Edits `profile` in place on OK.
    CAdvancedDialog(Profile& profile, bool adHocChecked, int languageOffset, CWnd* parent);

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;

private:
    void UpdateControlStates();
    void OnOptionsChanged();
    void OnHelp();
    CString String(UINT id) const;

    Profile& m_profile;
    bool m_adHoc;
    int m_languageOffset;
    CButton m_automatic;
    CButton m_manual;
    CIPAddressCtrl m_address;
    CIPAddressCtrl m_mask;
    CIPAddressCtrl m_gateway;
    CComboBox m_options;
    CEdit m_key;
    CEdit m_confirm;
    // The key texts put aside while None is chosen.
    CString m_keptKey;
    CString m_keptConfirm;
};
