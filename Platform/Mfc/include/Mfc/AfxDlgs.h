// Property sheets and their pages. The sheet lays its pages out above a row
// of buttons: Back (ID_WIZBACK), Next (ID_WIZNEXT), Finish (ID_WIZFINISH),
// Cancel (IDCANCEL) and Help (IDHELP) in wizard mode; OK (IDOK), Cancel and
// Help otherwise.
#pragma once

#include "Mfc/AfxWin.h"

class CPropertySheet;

// A page: a child dialog created from its template the first time it
// becomes active, hidden while another page is active. Enter and Escape in
// a page act on the sheet's default and Cancel buttons.
class CPropertyPage : public CDialog {
public:
    explicit CPropertyPage(UINT templateId) : CDialog(templateId) {}

    // Activation; FALSE skips the page in the direction of travel.
    virtual BOOL OnSetActive();
    // Leaving the page; FALSE keeps it.
    virtual BOOL OnKillActive();
    // 0: the next (previous) page; -1: stay; otherwise the template id of
    // the page to go to.
    virtual LRESULT OnWizardNext() { return 0; }
    virtual LRESULT OnWizardBack() { return 0; }
    // TRUE lets the wizard end with ID_WIZFINISH.
    virtual BOOL OnWizardFinish() { return TRUE; }
    // TRUE lets the sheet be cancelled.
    virtual BOOL OnQueryCancel() { return TRUE; }
    // OK of a sheet that is not a wizard, for every page created: OnOK.
    virtual BOOL OnApply();

    CPropertySheet* GetSheet() const { return sheet_; }

    // The sheet's OK (after OnApply) and Cancel, for every page created;
    // they do not end anything themselves.
    void OnOK() override {}
    void OnCancel() override {}

private:
    friend class CPropertySheet;
    CPropertySheet* sheet_ = nullptr;
};

struct PROPSHEETHEADER {
    DWORD dwFlags = 0;
    HICON hIcon = nullptr;
};

class CPropertySheet : public CWnd {
public:
    explicit CPropertySheet(UINT captionId, CWnd* parent = nullptr, UINT selectPage = 0);
    explicit CPropertySheet(LPCWSTR caption, CWnd* parent = nullptr, UINT selectPage = 0);

    void AddPage(CPropertyPage* page);
    void SetWizardMode() { m_psh.dwFlags |= PSH_WIZARD; }
    bool IsWizard() const { return (m_psh.dwFlags & PSH_WIZARD) != 0; }
    // Posts PSM_SETWIZBUTTONS, as pages do.
    void SetWizardButtons(DWORD flags);
    int GetPageCount() const { return static_cast<int>(pages_.size()); }
    CPropertyPage* GetPage(int index) const;
    int GetPageIndex(const CPropertyPage* page) const;
    CPropertyPage* GetActivePage() const;
    int GetActiveIndex() const { return active_; }
    BOOL SetActivePage(int index);
    BOOL SetActivePage(CPropertyPage* page);
    BOOL PressButton(int button);
    void EndDialog(int result);

    // ID_WIZFINISH or IDCANCEL for a wizard, IDOK or IDCANCEL otherwise; -1
    // when a page cannot be created.
    virtual INT_PTR DoModal();
    virtual BOOL OnInitDialog() { return TRUE; }

    bool StartModal() override;
    INT_PTR FinishModal() override;

    PROPSHEETHEADER m_psh;

protected:
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;

private:
    bool Activate(int index, int direction);
    int IndexOfTemplate(LRESULT templateId) const;
    void ApplyWizardButtons();
    void Navigate(int direction);
    void Finish();
    void Cancel();
    void Ok();

    CString caption_;
    CWnd* parent_;
    std::vector<CPropertyPage*> pages_;
    int active_ = -1;
    UINT startPage_;
    DWORD wizardButtons_ = PSWIZB_BACK | PSWIZB_NEXT;
    HWND disabledParent_ = nullptr;
};
