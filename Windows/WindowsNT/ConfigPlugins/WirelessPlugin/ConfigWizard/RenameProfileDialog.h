// The dialog in which the user gives a printer profile a new name.
#pragma once

#include "Mfc/AfxWin.h"

#include <vector>

class CRenameProfileDialog : public CDialog {
public:
    static constexpr UINT IDD = 12106;

    // `existingNames` are the names of the printer's profiles (the current
    // one may be among them).
    CRenameProfileDialog(CString currentName, const std::vector<CString>& existingNames, CWnd* parent = nullptr);
    ~CRenameProfileDialog() override;

    // Runs under the library's module state, where the template lives.
    INT_PTR DoModal() override;
    // The name entered; the current name until OK has been accepted.
    CString GetProfileName() const;

protected:
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void LoadLocalizedStrings();
    unsigned GetLocalizedStringID(unsigned id) const;

private:
    // The text of `id` in the user's language, or the English one.
    CString LocalizedString(unsigned id) const;
    void RejectName();

    CEdit m_nameEdit;
    CString m_profileName;
    CButton m_cancelButton;
    CButton m_okButton;
    CStatic m_nameLabel;
    CString m_currentName;
    std::vector<CString> m_existingNames;
    int m_languageOffset = 0;
};
