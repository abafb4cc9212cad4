// The wireless configuration wizard: a modal frame with the buttons Back,
// Next, Finish, Cancel and Test around one pane at a time. It holds the
// working copies of the printer's profiles, the configuration channel to the
// printer on USB, the regulatory data, the printer search and one of the two
// state machines, and it is the controller those machines drive.
//
//   std::unique_ptr<CAssistantDialog> wizard(CAssistantDialog::CreateAssistantDialog(
//       driverKey, outPacket, inPacket, vid, pid, guid, settings, profiles, 0, networks,
//       true /*confirmScan*/, true /*fullWizard*/, parent));
//   if (wizard->DoModal() == IDOK) ...  // the full wizard has stored the profile itself;
//                                       // a partial one hands back GetProfile() and GetNetworks()
//
// The constructor throws when the regulatory-domain document cannot be read.
// One wizard runs at a time: its panes reach it as the current wizard.
#pragma once

#include "AssistantStateMachine.h"
#include "PrinterSearch.h"
#include "StateMachineController.h"

#include "Common/NetConfig/API/ConfigAPI.h"
#include "Common/NetConfig/RegulatoryDomainExpert.h"
#include "Common/NetConfig/Settings.h"
#include "Mfc/AfxWin.h"
#include "Tessary/i8n/I8NString.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CAssistantPane;
class CFindNetworksPane;

class CAssistantDialog : public CDialog, public IStateMachineControllerFull {
public:
    static constexpr UINT IDD = 10012;
    // Posted by the printer search: wParam 1 found, 0 not found.
    static constexpr UINT WM_PRINTER_SEARCH_COMPLETE = WM_USER + 219;
    // The Next command of the localised frames, which panes send for Enter.
    static constexpr UINT ID_LOCALIZED_NEXT = 13130;
    // Control ids of the buttons, indexed by ButtonID.
    static constexpr int kButtonIds[kButtonCount] = {IDCANCEL, 3126, 2011, 3004, 3130};

    // Allocates a wizard; the caller deletes it. `selectedIndex` indexes
    // `profiles`; `networks` preset the network list.
    static CAssistantDialog* CreateAssistantDialog(const std::string& driverKeyName, int outPacketSize,
                                                   int inPacketSize, int vendorId, int productId,
                                                   const std::string& printerGuid, const PrinterSettings& settings,
                                                   const std::vector<Profile>& profiles, int selectedIndex,
                                                   const std::vector<WiFiSettings>& networks, bool confirmScan,
                                                   bool fullWizard, CWnd* parent);
    CAssistantDialog(const std::string& driverKeyName, int outPacketSize, int inPacketSize, int vendorId, int productId,
                     const std::string& printerGuid, const PrinterSettings& settings,
                     const std::vector<Profile>& profiles, int selectedIndex, const std::vector<WiFiSettings>& networks,
                     bool confirmScan, bool fullWizard, CWnd* parent);
    ~CAssistantDialog() override;

    // The wizard the panes work for: the one made last, null once it is gone.
    static CAssistantDialog* GetCurrentWizard();

    INT_PTR DoModal() override;
    bool StartModal() override;

    // What the state machines call.
    void DisplayScreen(StateMachineScreenID screen) override;
    void DisableButton(ButtonID button) override;
    bool CommitScreen() override;
    void CloseWizard() override;
    const Profile& GetProfile() const override;
    // Stores the profile being edited on the printer; afterwards it is also
    // what leaving a test restores.
    void CommitProfile() override;

    Profile& GetProfile();
    const std::vector<Profile>& GetProfileList() const;
    const PrinterSettings& GetPrinterSettings() const;
    PrinterSettings& GetPrinterSettings();
    const std::string& GetMACAddress() const;
    int GetTemplateID();
    ButtonID GetTransitionButton() const;
    bool ShowingFullWizard() const;
    // The networks of the network list; `scanConfirmed` tells whether the
    // user no longer needs to confirm a scan.
    const std::vector<WiFiSettings>& GetNetworks(bool& scanConfirmed) const;
    void SelectProfile(int id);
    void RenameProfile(int id, const Tessary::I8NString& name);
    // TSLogicError when no working profile has that id.
    int FindProfileByID(int id);
    RegulatoryDomainExpert& GetRegulatoryDomainExpert();

    // The channel to the printer, opened afresh and in configuration mode.
    ConfigAPI& OpenPrinterCommunication();
    // Leaves configuration mode and releases the printer.
    void ClosePrinter();
    // Sends the profile with setProfileData; the channel is closed and the
    // wait cursor ends whichever way it goes.
    void TransmitProfileToPrinter(Profile& profile, bool updateHostId);
    // Sends back the profile as the printer held it.
    void UncommitProfile();
    void EnableButton(ButtonID button);
    void EnableAllButtons();
    void StartSearching();
    void StopSearching();
    static void PrinterSearchCompleteEntry(void* dialog, bool found);
    // Any thread: posts the result to the wizard's window.
    void PrinterSearchComplete(bool found);
    // Offers to make this computer the profile's default host for transfers
    // when the machine's host id differs from the profile's.
    void UpdateProfileHostID(Profile& profile);

protected:
    BOOL OnInitDialog() override;
    void OnFinish();
    void OnNext();
    void OnBack();
    void OnTest();
    void OnCancel() override;
    LRESULT OnPrinterSearchComplete(WPARAM wParam, LPARAM lParam);
    void DoDataExchange(CDataExchange* dx) override;
    // Every message runs under the library's module state.
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    struct Data;
    // Enter in a pane: Next, when the user could press it.
    void OnEnter();
    void Fire(ButtonID button, void (IAssistantStateMachine::*event)());
    CFindNetworksPane& NetworkPane() const;

    std::string m_DriverKeyName;
    int m_OutPacketSize;
    int m_InPacketSize;
    std::string m_MACAddress;
    PrinterSettings m_PrinterSettings;
    int m_VendorId;
    int m_ProductId;
    bool m_FullWizard;
    CAssistantPane* m_CurrentPane = nullptr;
    std::vector<Profile> m_ReceivedProfiles;
    std::vector<Profile> m_WorkingProfiles;
    int m_SelectedIndex;
    CPrinterSearch m_PrinterSearch;
    std::unique_ptr<Data> m_Data;
    ButtonID m_TransitionButton = NextButton;
    // Where the search posts its result (read on the DNS-SD pump thread).
    std::atomic<HWND> m_SearchTarget{nullptr};
    // The first failure of an event (a commit to the printer, a screen that
    // could not open), told once the wizard has a screen again: the message
    // of the step that failed and, when known, its cause (string ids).
    struct Failure {
        UINT message = 0;
        UINT cause = 0;
    };
    std::optional<Failure> m_Failure;
};
