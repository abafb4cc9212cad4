#include "AssistantDialog.h"

#include "AssistantPanes.h"
#include "ConfigWizardApp.h"
#include "HostId.h"

#include "Common/Headers/PrinterDescription.h"
#include "Common/NetConfig/API/Win32ConfigAPI.h"
#include "Common/NetConfig/Requests.h"
#include "Mfc/Layer.h"
#include "Tessary/TSException.h"
#include "Tessary/i8n/UTFConversion.h"

#include <array>
#include <exception>
#include <new>
#include <optional>
#include <utility>

namespace {

constexpr const char16_t* kRegDomainFile = u"RegDomainData.xml";

constexpr UINT kUpdateHostIdQuestion = 10017;

// Templates of the screens, by screen id.
constexpr UINT kScreenTemplates[kScreenCount] = {10000, 10001, 10002, 10004, 10005, 10006,
                                                 10016, 10007, 10014, 10008, 10009, 10011};

CAssistantDialog* g_currentWizard = nullptr;
// The panes of the current wizard, by screen id.
std::array<std::unique_ptr<CAssistantPane>, kScreenCount> g_screens;

std::unique_ptr<CAssistantPane> MakePane(int screen, int offset) {
    const UINT id = kScreenTemplates[screen];
    switch (screen) {
        case ProfileSelectionScreen:
            return std::make_unique<CProfileSelectionPane>(id, offset);
        case DockNameScreen:
            return std::make_unique<CDockNamePane>(id, offset);
        case NetworkSelectionScreen:
            return std::make_unique<CFindNetworksPane>(id, offset);
        case SearchingScreen:
            return std::make_unique<CSearchingPane>(id, offset);
        case SecurityScreen:
            return std::make_unique<CSecurityPane>(id, offset);
        case IPAddressingScreen:
            return std::make_unique<CIPAddressingPane>(id, offset);
        default:
            return std::make_unique<CAssistantPane>(id, offset);
    }
}

// The installation folder and the document's name with one separator
// between them.
std::string RegDomainDataPath() {
    std::u16string path = GetInstallPath();
    if (!path.empty() && path.back() != u'\\' && path.back() != u'/') path += u'\\';
    path += kRegDomainFile;
    return Tessary::UTF16ToUTF8String(path.data(), static_cast<int>(path.size()));
}

}  // namespace

struct CAssistantDialog::Data {
    std::unique_ptr<IAssistantStateMachine> machine;
    std::unique_ptr<ConfigAPI> api;
    std::unique_ptr<RegulatoryDomainExpert> regulatoryDomains;
};

CAssistantDialog* CAssistantDialog::CreateAssistantDialog(
    const std::string& driverKeyName, int outPacketSize, int inPacketSize, int vendorId, int productId,
    const std::string& printerGuid, const PrinterSettings& settings, const std::vector<Profile>& profiles,
    int selectedIndex, const std::vector<WiFiSettings>& networks, bool confirmScan, bool fullWizard, CWnd* parent) {
    AFX_MANAGE_STATE(ElvintorModuleState());
    return new CAssistantDialog(driverKeyName, outPacketSize, inPacketSize, vendorId, productId, printerGuid, settings,
                                profiles, selectedIndex, networks, confirmScan, fullWizard, parent);
}

CAssistantDialog::CAssistantDialog(const std::string& driverKeyName, int outPacketSize, int inPacketSize, int vendorId,
                                   int productId, const std::string& printerGuid, const PrinterSettings& settings,
                                   const std::vector<Profile>& profiles, int selectedIndex,
                                   const std::vector<WiFiSettings>& networks, bool confirmScan, bool fullWizard,
                                   CWnd* parent)
    : CDialog(IDD, parent),
      m_DriverKeyName(driverKeyName),
      m_OutPacketSize(outPacketSize),
      m_InPacketSize(inPacketSize),
      m_PrinterSettings(settings),
      m_VendorId(vendorId),
      m_ProductId(productId),
      m_FullWizard(fullWizard),
      m_ReceivedProfiles(profiles),
      m_WorkingProfiles(profiles),
      m_SelectedIndex(selectedIndex),
      m_PrinterSearch(vendorId, productId, printerGuid) {
    AFX_MANAGE_STATE(ElvintorModuleState());
    MapCommand(kButtonIds[FinishButton], &CAssistantDialog::OnFinish);
    MapCommand(kButtonIds[NextButton], &CAssistantDialog::OnNext);
    MapCommand(kButtonIds[BackButton], &CAssistantDialog::OnBack);
    MapCommand(kButtonIds[TestButton], &CAssistantDialog::OnTest);
    MapCommand(ID_LOCALIZED_NEXT, &CAssistantDialog::OnEnter);
    MapMessage(WM_PRINTER_SEARCH_COMPLETE, &CAssistantDialog::OnPrinterSearchComplete);
    try {
        m_Data = std::make_unique<Data>();
    } catch (const std::bad_alloc&) {
        TS_THROW(Tessary::TSException, "Failed to allocate m_Data structure in CAssistantDialog::CAssistantDialog");
    }
    try {
        m_Data->api = std::make_unique<Win32ConfigAPI>();
    } catch (const std::bad_alloc&) {
        TS_THROW(Tessary::TSException, "Failed to allocate config API object in CAssistantDialog::CAssistantDialog");
    }
    const std::string path = RegDomainDataPath();
    try {
        m_Data->regulatoryDomains = std::make_unique<RegulatoryDomainExpert>(path);
    } catch (const Tessary::TSException& e) {
        TS_THROW(Tessary::TSRuntimeError, "Cannot read the regulatory domain data '" + path +
                                              "' in CAssistantDialog::CAssistantDialog: " + e.what());
    }

    g_currentWizard = this;
    const int offset = WizardLanguageOffset();
    for (int screen = 0; screen < kScreenCount; ++screen) g_screens[screen] = MakePane(screen, offset);
    NetworkPane().SetNetworks(networks);
    NetworkPane().SetConfirmScan(confirmScan);
}

CAssistantDialog::~CAssistantDialog() {
    AFX_MANAGE_STATE(ElvintorModuleState());
    if (m_hWnd != nullptr) DestroyWindow();
    m_Data->machine.reset();
    // Panes work for the current wizard only: they go with it.
    if (g_currentWizard == this) {
        for (auto& pane : g_screens) pane.reset();
        g_currentWizard = nullptr;
    }
    StopSearching();
}

CAssistantDialog* CAssistantDialog::GetCurrentWizard() {
    return g_currentWizard;
}

CFindNetworksPane& CAssistantDialog::NetworkPane() const {
    return static_cast<CFindNetworksPane&>(*g_screens[NetworkSelectionScreen]);
}

INT_PTR CAssistantDialog::DoModal() {
    AFX_MANAGE_STATE(ElvintorModuleState());
    return CDialog::DoModal();
}

bool CAssistantDialog::StartModal() {
    AFX_MANAGE_STATE(ElvintorModuleState());
    return CDialog::StartModal();
}

LRESULT CAssistantDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    AFX_MANAGE_STATE(ElvintorModuleState());
    return CDialog::WindowProc(message, wParam, lParam);
}

void CAssistantDialog::DoDataExchange(CDataExchange*) {}

BOOL CAssistantDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    m_SearchTarget = m_hWnd;
    m_CurrentPane = nullptr;
    if (m_FullWizard) {
        m_Data->machine = std::make_unique<StateMachineFull::AssistantStateMachineFull>(*this);
    } else {
        m_Data->machine = std::make_unique<StateMachinePartial::AssistantStateMachinePartial>(*this);
    }
    // The first screen has taken the focus.
    return FALSE;
}

// ----- Controller

namespace {

// Runs a step of an event and passes on what it throws, keeping the event's
// first failure for the user: the step's `message`, and the cause where the
// wizard can put it in plain words.
template <class Failure, class Step>
void Noting(std::optional<Failure>& failure, UINT message, Step step) {
    try {
        step();
    } catch (const WizardUserError& e) {
        if (!failure) failure = Failure{message, e.CauseId()};
        throw;
    } catch (...) {
        if (!failure) failure = Failure{message, 0};
        throw;
    }
}

// The profile at `index`; a wizard without one to work on says so.
template <class Profiles>
auto& ProfileAt(Profiles& profiles, int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= profiles.size()) {
        throw WizardUserError(kNoEditableProfile, "No profile selected in CAssistantDialog::GetProfile", __FILE__,
                              __LINE__);
    }
    return profiles[static_cast<std::size_t>(index)];
}

}  // namespace

void CAssistantDialog::DisplayScreen(StateMachineScreenID screen) {
    m_CurrentPane = g_screens.at(static_cast<std::size_t>(screen)).get();
    EnableAllButtons();
    Noting(m_Failure, kScreenFailed, [this] { m_CurrentPane->Show(); });
    m_CurrentPane->SetFocus();
}

void CAssistantDialog::DisableButton(ButtonID button) {
    if (CWnd* control = GetDlgItem(kButtonIds[button])) control->EnableWindow(FALSE);
}

void CAssistantDialog::EnableButton(ButtonID button) {
    if (CWnd* control = GetDlgItem(kButtonIds[button])) control->EnableWindow(TRUE);
}

void CAssistantDialog::EnableAllButtons() {
    for (int button = 0; button < kButtonCount; ++button) EnableButton(static_cast<ButtonID>(button));
}

bool CAssistantDialog::CommitScreen() {
    return m_CurrentPane == nullptr || m_CurrentPane->Hide(true);
}

void CAssistantDialog::CloseWizard() {
    EndDialog(IDOK);
}

const Profile& CAssistantDialog::GetProfile() const {
    return ProfileAt(m_WorkingProfiles, m_SelectedIndex);
}

Profile& CAssistantDialog::GetProfile() {
    return ProfileAt(m_WorkingProfiles, m_SelectedIndex);
}

void CAssistantDialog::CommitProfile() {
    Noting(m_Failure, kCommitFailed, [this] { TransmitProfileToPrinter(GetProfile(), true); });
    // What the printer holds now: a later test restores this, not what the
    // printer held before the wizard.
    ProfileAt(m_ReceivedProfiles, m_SelectedIndex) = GetProfile();
}

// ----- Accessors

const std::vector<Profile>& CAssistantDialog::GetProfileList() const {
    return m_WorkingProfiles;
}

const PrinterSettings& CAssistantDialog::GetPrinterSettings() const {
    return m_PrinterSettings;
}

PrinterSettings& CAssistantDialog::GetPrinterSettings() {
    return m_PrinterSettings;
}

const std::string& CAssistantDialog::GetMACAddress() const {
    return m_MACAddress;
}

int CAssistantDialog::GetTemplateID() {
    return IDD;
}

ButtonID CAssistantDialog::GetTransitionButton() const {
    return m_TransitionButton;
}

bool CAssistantDialog::ShowingFullWizard() const {
    return m_FullWizard;
}

const std::vector<WiFiSettings>& CAssistantDialog::GetNetworks(bool& scanConfirmed) const {
    scanConfirmed = !NetworkPane().GetConfirmScan();
    return NetworkPane().GetNetworks();
}

void CAssistantDialog::SelectProfile(int id) {
    m_SelectedIndex = FindProfileByID(id);
}

void CAssistantDialog::RenameProfile(int id, const Tessary::I8NString& name) {
    m_WorkingProfiles[static_cast<std::size_t>(FindProfileByID(id))].SetProfileName(name);
}

int CAssistantDialog::FindProfileByID(int id) {
    for (std::size_t i = 0; i < m_WorkingProfiles.size(); ++i) {
        if (m_WorkingProfiles[i].GetId() == id) return static_cast<int>(i);
    }
    TS_THROW(Tessary::TSLogicError, "Profile ID not found in CAssistantDialog::FindProfileByID");
}

RegulatoryDomainExpert& CAssistantDialog::GetRegulatoryDomainExpert() {
    return *m_Data->regulatoryDomains;
}

// ----- The printer

ConfigAPI& CAssistantDialog::OpenPrinterCommunication() {
    ConfigAPI& api = *m_Data->api;
    api.Close(true);
    api.inConfigMode = false;
    api.OpenByDriverKeyName(m_DriverKeyName, m_OutPacketSize, m_InPacketSize);
    api.CheckConnected();
    api.SetConfigMode(true);
    return api;
}

void CAssistantDialog::ClosePrinter() {
    ConfigAPI& api = *m_Data->api;
    struct ClearMode {
        ConfigAPI& api;
        ~ClearMode() { api.inConfigMode = false; }
    } clear{api};
    api.Close(true);
}

void CAssistantDialog::TransmitProfileToPrinter(Profile& profile, bool updateHostId) {
    if (updateHostId) UpdateProfileHostID(profile);
    CWaitCursor wait;
    // Whatever happens, the printer leaves configuration mode; a failure to
    // leave it does not hide the failure that came first.
    struct CloseOnFailure {
        CAssistantDialog& wizard;
        int failures = std::uncaught_exceptions();
        ~CloseOnFailure() {
            if (std::uncaught_exceptions() == failures) return;
            try {
                wizard.ClosePrinter();
            } catch (...) {
            }
        }
    } closing{*this};
    ConfigAPI& api = OpenPrinterCommunication();
    int result = -1;
    if (!SetProfileData(api, {profile}, result)) {
        TS_THROW(Tessary::TSRuntimeError,
                 "Invalid response received for 'set profile data' request in "
                 "CAssistantDialog::TransmitProfileToPrinter");
    }
    if (result != 0) {
        TS_THROW_CODE(Tessary::TSRuntimeCodeError,
                      "Error code returned for 'set profile data' request in "
                      "CAssistantDialog::TransmitProfileToPrinter",
                      result);
    }
    ClosePrinter();
}

void CAssistantDialog::UncommitProfile() {
    TransmitProfileToPrinter(ProfileAt(m_ReceivedProfiles, m_SelectedIndex), false);
}

void CAssistantDialog::UpdateProfileHostID(Profile& profile) {
    const auto hostId = ReadHostId();
    if (!hostId) return;
    const std::string narrow = Tessary::UTF16ToUTF8String(hostId->data(), static_cast<int>(hostId->size()));
    if (narrow == profile.GetDefaultHostID()) return;
    if (AfxMessageBox(WizardString(kUpdateHostIdQuestion), MB_YESNO | MB_ICONQUESTION) != IDNO) {
        profile.SetDefaultHostID(narrow);
    }
}

// ----- The printer search

void CAssistantDialog::StartSearching() {
    m_PrinterSearch.StartSearching(&CAssistantDialog::PrinterSearchCompleteEntry, this);
}

void CAssistantDialog::StopSearching() {
    m_PrinterSearch.StopSearching();
}

void CAssistantDialog::PrinterSearchCompleteEntry(void* dialog, bool found) {
    static_cast<CAssistantDialog*>(dialog)->PrinterSearchComplete(found);
}

void CAssistantDialog::PrinterSearchComplete(bool found) {
    ::PostMessageW(m_SearchTarget.load(), WM_PRINTER_SEARCH_COMPLETE, found ? 1 : 0, 0);
}

// ----- Handlers

void CAssistantDialog::Fire(ButtonID button, void (IAssistantStateMachine::*event)()) {
    m_TransitionButton = button;
    m_Failure.reset();
    try {
        (m_Data->machine.get()->*event)();
    } catch (const TransitionNotAllowedException&) {
        // The screen told the user what is wrong with it.
    } catch (const statemap::TransitionUndefinedException&) {
    } catch (const statemap::StateUndefinedException&) {
    } catch (const Tessary::TSException&) {
    } catch (const std::exception&) {
    } catch (...) {
    }
    // The machine is back on a screen that works: now tell why.
    if (m_Failure) {
        const Failure failure = *std::exchange(m_Failure, std::nullopt);
        WizardFailureMessage(failure.message, failure.cause);
    }
}

void CAssistantDialog::OnFinish() {
    Fire(FinishButton, &IAssistantStateMachine::Finish);
}

void CAssistantDialog::OnNext() {
    Fire(NextButton, &IAssistantStateMachine::Next);
}

void CAssistantDialog::OnBack() {
    Fire(BackButton, &IAssistantStateMachine::Back);
}

void CAssistantDialog::OnTest() {
    Fire(TestButton, &IAssistantStateMachine::Test);
}

void CAssistantDialog::OnEnter() {
    CWnd* next = GetDlgItem(kButtonIds[NextButton]);
    if (next == nullptr || !next->IsWindowEnabled()) {
        MessageBeep(MB_OK);
        return;
    }
    OnNext();
}

LRESULT CAssistantDialog::OnPrinterSearchComplete(WPARAM wParam, LPARAM) {
    Fire(m_TransitionButton,
         wParam == 0 ? &IAssistantStateMachine::PrinterNotFound : &IAssistantStateMachine::PrinterFound);
    return 0;
}

void CAssistantDialog::OnCancel() {
    // As with the frame's close box: nothing while Cancel is not live (a
    // scan is running).
    CWnd* cancel = GetDlgItem(kButtonIds[CancelButton]);
    if (cancel != nullptr && !cancel->IsWindowEnabled()) {
        MessageBeep(MB_OK);
        return;
    }
    if (m_CurrentPane != nullptr) {
        try {
            m_CurrentPane->Hide(false);
        } catch (...) {
            // Cancel always ends the wizard.
        }
    }
    try {
        if (m_Data->api->IsConnected()) ClosePrinter();
    } catch (...) {
    }
    CDialog::OnCancel();
}
