#include "WirelessSetupAssistantApp.h"

#include "Common/Headers/RodizuzUzezProperties.h"
#include "Platform/Process.h"
#include "PrinterInstallSteps.h"
#include "SetupAssistantResources.h"
#include "Tessary/i8n/I8NString.h"
#include "Windows/Common/ResourceDLL.h"

#include <clocale>
#include <string>

using namespace SetupAssistant;

namespace {

constexpr const char16_t* kInstanceName = u"CWirelessSetupAssistantApp!InitInstance";

void BringFirstInstanceForward(const WCHAR* title) {
    if (HWND first = FindWindowW(nullptr, title)) {
        HWND popup = GetLastActivePopup(first);
        if (IsIconic(first)) ShowWindow(first, SW_RESTORE);
        SetForegroundWindow(popup);
    }
}

}  // namespace

bool SetupAssistant::VersionAllowsWizard() {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExW(&info)) return false;
    if (info.dwMajorVersion >= 6) return true;
    return info.dwMajorVersion == 5 && info.dwMinorVersion == 1 && info.szCSDVersion[0] != 0;
}

CWirelessSetupAssistantApp::CWirelessSetupAssistantApp() = default;

CWirelessSetupAssistantApp::~CWirelessSetupAssistantApp() {
    sheet_.reset();
    if (instanceEvent_ != nullptr) CloseHandle(instanceEvent_);
}

BOOL CWirelessSetupAssistantApp::InitInstance() {
    try {
        // The named event holds a lock that dies with this process, so two
        // starts at once cannot both pass; the title only finds the window.
        const StResourceString title(IDS_WSA_TITLE);
        instanceEvent_ = CreateEventW(nullptr, TRUE, FALSE, kInstanceName);
        if (instanceEvent_ == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
            BringFirstInstanceForward(title);
            return FALSE;
        }
        // The machine's own code page for narrow text.
        std::setlocale(LC_ALL, "");
        ResourceDLLScope resources;

        sheet_ = std::make_unique<WSAWizardSheet>(IDS_WSA_TITLE, nullptr, kStandAlonePage);
        if (m_arguments.size() > 1) {
            if (!AcceptQueue(m_arguments[1])) return FALSE;
            sheet_->SetActivePage(kPnpWelcomePage);
        }
        m_pMainWnd = sheet_.get();
        sheet_->DoModal();
        m_pMainWnd = nullptr;
    } catch (...) {
        // Start-up failures end the program quietly.
        m_pMainWnd = nullptr;
    }
    return FALSE;
}

bool CWirelessSetupAssistantApp::AcceptQueue(const CString& queue) {
    PrinterInstall::GrantEveryoneFullAccess(queue.GetString());
    if (!VersionAllowsWizard()) return false;
    {
        RodizuzUzezProperties properties(queue.GetString());
        if (properties.IsNetworkPort()) return false;
    }
    CWizardEngine& engine = sheet_->Engine();
    if (!engine.SetPrinterName(queue.GetString())) return false;
    if (!engine.IsPrinterConnected()) return false;
    // Only a printer with wireless hardware reports a MAC address.
    const std::string& mac = engine.GetMacAddress();
    if (mac.empty()) return false;
    const StResourceString noMac(IDS_NO_MAC_ADDRESS);
    return Tessary::I8NString(mac) != Tessary::I8NString(static_cast<const WCHAR*>(noMac));
}
