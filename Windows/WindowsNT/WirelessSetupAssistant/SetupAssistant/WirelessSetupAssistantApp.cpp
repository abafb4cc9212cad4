#include "WirelessSetupAssistantApp.h"

#include "Common/Headers/RodizuzUzezProperties.h"
#include "Platform/Process.h"
#include "PrinterInstallSteps.h"
#include "SetupAssistantResources.h"
#include "Tessary/i8n/I8NString.h"
#include "Windows/Common/FirstInstance.h"
#include "Windows/Common/ResourceDLL.h"

#include <clocale>
#include <string>

using namespace SetupAssistant;

namespace {

constexpr const char16_t* kInstanceName = u"CWirelessSetupAssistantApp!InitInstance";

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
    refusal_.clear();
    bool opened = false;
    try {
        // The named event holds a lock that dies with this process, so two
        // starts at once cannot both pass; the title only finds the window.
        const StResourceString title(IDS_WSA_TITLE);
        instanceEvent_ = CreateEventW(nullptr, TRUE, FALSE, kInstanceName);
        if (instanceEvent_ == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
            refusal_ = BringFirstInstanceForward(title, "the setup assistant");
            return FALSE;
        }
        // The machine's own code page for narrow text.
        std::setlocale(LC_ALL, "");
        ResourceDLLScope resources;

        sheet_ = std::make_unique<WSAWizardSheet>(IDS_WSA_TITLE, nullptr, kStandAlonePage);
        if (m_arguments.size() > 1) {
            refusal_ = RefuseQueue(m_arguments[1]);
            if (!refusal_.empty()) return FALSE;
            // Only the family's own queue on USB is opened to everyone.
            PrinterInstall::GrantEveryoneFullAccess(m_arguments[1].GetString());
            sheet_->SetActivePage(kPnpWelcomePage);
        }
        m_pMainWnd = sheet_.get();
        opened = true;
        sheet_->DoModal();
        m_pMainWnd = nullptr;
    } catch (const std::exception& e) {
        // Start-up failures end the program quietly, but for the reason.
        if (!opened) refusal_ = e.what();
    } catch (const char* text) {
        // What the engine throws about the printer's answers.
        if (!opened) refusal_ = text;
    } catch (...) {
        if (!opened) refusal_ = "the start-up failed";
    }
    m_pMainWnd = nullptr;
    return FALSE;
}

std::string CWirelessSetupAssistantApp::RefuseQueue(const CString& queue) {
    const std::string name = Tessary::I8NString(queue.GetString()).ToString();
    if (name.empty()) return "the print queue's name is empty";
    if (!VersionAllowsWizard()) return "this version of Windows is too old for the wizard";
    {
        RodizuzUzezProperties properties(queue.GetString());
        if (properties.Handle() == nullptr) return "no print queue named \"" + name + "\" can be opened";
        if (properties.IsNetworkPort()) return "the print queue \"" + name + "\" is not on a USB port";
    }
    CWizardEngine& engine = sheet_->Engine();
    if (!engine.SetPrinterName(queue.GetString())) return "the print queue's name is too long";
    if (!engine.IsPrinterConnected()) return "no printer of the family is connected by USB to \"" + name + "\"";
    // Only a printer with wireless hardware reports a MAC address.
    const std::string& mac = engine.GetMacAddress();
    const StResourceString noMac(IDS_NO_MAC_ADDRESS);
    if (mac.empty() || Tessary::I8NString(mac) == Tessary::I8NString(static_cast<const WCHAR*>(noMac)))
        return "the printer on \"" + name + "\" has no wireless network hardware";
    return {};
}
