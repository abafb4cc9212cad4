// The wizard's screens. Each is a child dialog made inside the wizard's
// frame when its screen shows (Show) and destroyed when it is left (Hide):
// it fills its controls from the profile being edited, checks and stores
// them when the screen is left forwards, and keeps controls enabled or
// hidden by the others. Enter, Escape and whatever a pane does not handle
// itself go on to the frame, so the frame's buttons work from inside a pane.
//
// Operations on a pane whose window is not there do nothing (Hide and
// Commit then succeed).
#pragma once

#include "NetworksListCtrl.h"
#include "PictureEx.h"

#include "Common/NetConfig/Settings.h"
#include "Mfc/AfxCmn.h"
#include "Mfc/AfxWin.h"
#include "Tessary/TSException.h"

#include <optional>
#include <string>
#include <vector>

class CAssistantDialog;

// The library's language offset for the user's language (read at each use).
int WizardLanguageOffset();
// The library's string `englishId` in the user's language, or in English.
CString WizardString(UINT englishId);
// Tells the user that a step failed: the library's string `messageId`,
// then, when known, the cause in the library's words (string `causeId`).
// The text of an exception is never shown: it is written for developers.
void WizardFailureMessage(UINT messageId, UINT causeId = 0);
constexpr UINT kCommitFailed = 10121;
constexpr UINT kRestoreFailed = 10122;
constexpr UINT kScreenFailed = 10131;
constexpr UINT kNoEditableProfile = 10132;

// A failure whose cause the user can be told: the library's string
// `CauseId()` says it in plain words.
class WizardUserError : public Tessary::TSRuntimeError {
public:
    WizardUserError(UINT causeId, const std::string& message, const std::string& file, int line)
        : TSRuntimeError(message, file, line), causeId_(causeId) {}
    UINT CauseId() const noexcept { return causeId_; }

private:
    UINT causeId_;
};
// Key 1 of WEP keys; other kinds of security (none, a scanned network's,
// WPA) carry no key 1.
std::optional<std::string> WepKeyOne(const Security& security);

// A screen of text only; the base of the others.
class CAssistantPane : public CDialog {
public:
    // `templateId` is the English template; the user's language's is used
    // when the library has it.
    CAssistantPane(UINT templateId, int languageOffset);

    // TSRuntimeError "Create failed in CAssistantPane::Show" when the window
    // cannot be made; what Initialize throws passes on, the window gone.
    virtual void Show();
    // With commit, false (the window stays) when Commit refuses.
    virtual bool Hide(bool commit);
    virtual void Initialize() {}
    virtual bool Commit() { return true; }
    virtual void UpdateControls() {}

    UINT GetPaneTemplateID() const { return m_templateId + static_cast<UINT>(m_languageOffset); }

protected:
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    CAssistantDialog& Wizard() const;
    template <class T>
    T& Item(int id) const {
        return *static_cast<T*>(GetDlgItem(id));
    }
    bool HasItem(int id) const { return m_hWnd != nullptr && ::GetDlgItem(m_hWnd, id) != nullptr; }
    // A message box with the library's string `id`.
    int Message(UINT id, UINT type = MB_OK) const;
    // Selects the edit's whole text, scrolls it into view and focuses it.
    void Refocus(int editId);

private:
    UINT m_templateId;
    int m_languageOffset;
};

class CProfileSelectionPane : public CAssistantPane {
public:
    CProfileSelectionPane(UINT templateId, int languageOffset);
    void Initialize() override;
    bool Commit() override;

protected:
    void OnRename();

private:
    int m_lastSelected = -1;
};

class CDockNamePane : public CAssistantPane {
public:
    static constexpr UINT kMaxNameLength = 32;

    using CAssistantPane::CAssistantPane;
    void Initialize() override;
    bool Commit() override;
};

class CFindNetworksPane : public CAssistantPane {
public:
    CFindNetworksPane(UINT templateId, int languageOffset);
    void Initialize() override;
    bool Commit() override;
    bool Hide(bool commit) override;
    void UpdateControls() override;

    void SetNetworks(const std::vector<WiFiSettings>& networks) { m_networkList.SetNetworks(networks); }
    const std::vector<WiFiSettings>& GetNetworks() const { return m_networkList.GetNetworks(); }
    void SetConfirmScan(bool confirm) { m_confirmScan = confirm; }
    bool GetConfirmScan() const { return m_confirmScan; }

    // The Wi-Fi settings as the controls show them, on the profile's.
    WiFiSettings ReadControls();

protected:
    void OnScan();
    LRESULT OnNetworkSelected(WPARAM wParam, LPARAM lParam);
    static void ScanFinishedEntry(void* pane);
    void ScanFinished();

private:
    std::vector<unsigned> Channels();
    void ShowSettings(const WiFiSettings& settings);

    CNetworksListCtrl m_networkList;
    CPictureEx m_animation;
    bool m_confirmScan = false;
    bool m_scanning = false;  // a scan started here has not been finished here
};

class CSearchingPane : public CAssistantPane {
public:
    using CAssistantPane::CAssistantPane;
    void Initialize() override;
    bool Hide(bool commit) override;

private:
    CPictureEx m_animation;
    bool m_transmitted = false;
};

class CSecurityPane : public CAssistantPane {
public:
    CSecurityPane(UINT templateId, int languageOffset);
    void Initialize() override;
    bool Commit() override;
    void UpdateControls() override;

private:
    bool WepChosen() const;

    CComboBox m_securityCombo;
    // What the key edits held when "None" was chosen, given back with "WEP".
    CString m_savedKey;
    CString m_savedConfirm;
    bool m_showingWep = false;
    // The profile's security is of a kind this screen cannot edit: it is
    // left as it is.
    bool m_keepsSecurity = false;
    // Keys typed before Back that were not valid: shown again for the same
    // network, never stored in the profile.
    struct KeptKeys {
        WiFiSettings network;
        CString key;
        CString confirm;
    };
    std::optional<KeptKeys> m_kept;
};

class CIPAddressingPane : public CAssistantPane {
public:
    CIPAddressingPane(UINT templateId, int languageOffset);
    void Initialize() override;
    bool Commit() override;
    void UpdateControls() override;
};
