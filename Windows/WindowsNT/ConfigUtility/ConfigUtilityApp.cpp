#include "ConfigUtilityApp.h"

#include "ConfigUtilityDlg.h"

#include "Windows/Common/FirstInstance.h"
#include "Windows/Common/ResourceDLL.h"

#include <clocale>

CConfigUtilityApp::CConfigUtilityApp() = default;

CConfigUtilityApp::~CConfigUtilityApp() {
    if (instanceEvent_ != nullptr) CloseHandle(instanceEvent_);
}

BOOL CConfigUtilityApp::InitInstance() {
    refusal_.clear();
    instanceEvent_ = CreateEventW(nullptr, TRUE, FALSE, u"CConfigUtilityApp!InitInstance");
    if (instanceEvent_ == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
        StResourceString title(IDS_APP_TITLE);
        refusal_ = BringFirstInstanceForward(title, "the configuration utility");
        return FALSE;
    }
    // The machine's own code page for narrow text.
    std::setlocale(LC_ALL, "");
    CConfigUtilityDlg dialog;
    m_pMainWnd = &dialog;
    dialog.DoModal();
    m_pMainWnd = nullptr;
    return FALSE;
}
