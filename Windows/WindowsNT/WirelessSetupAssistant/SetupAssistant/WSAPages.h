// The setup assistant's pages other than the network printer list: the
// introduction, the plug-and-play road and the result pages.
#pragma once

#include "PictureEx.h"
#include "WSAPageBase.h"

// A page that offers its own set of wizard buttons while it is shown.
class WSAButtonsPage : public WSAPageBase {
public:
    WSAButtonsPage(UINT templateId, CWizardEngine* engine, DWORD buttons);
    BOOL OnSetActive() override;

private:
    DWORD m_buttons;
};

// Introduction of the network road.
class StandAloneDlg : public WSAPageBase {
public:
    explicit StandAloneDlg(CWizardEngine* engine);
    LRESULT OnWizardNext() override;
};

// The printer was added.
class StandAloneAdded : public WSAButtonsPage {
public:
    explicit StandAloneAdded(CWizardEngine* engine);
};

// The first page of a start for a queue on USB: configures the printer's
// wireless settings through the configuration wizard.
class PNPWelcomePage : public WSAButtonsPage {
public:
    explicit PNPWelcomePage(CWizardEngine* engine);

private:
    void OnConfigure();
};

// Waits a moment with an animation, then looks for the printer on USB and
// installs it.
class PNPSearchBeginPage : public WSAPageBase {
public:
    explicit PNPSearchBeginPage(CWizardEngine* engine);
    BOOL OnInitDialog() override;
    BOOL OnSetActive() override;
    BOOL OnKillActive() override;

private:
    LRESULT OnTimer(WPARAM id, LPARAM);
    int SearchAndInstall();

    CPictureEx m_animation;
};

// The search before it leaves no button live: this page offers Back and Next.
class PNPSearchNotFoundPage : public WSAButtonsPage {
public:
    explicit PNPSearchNotFoundPage(CWizardEngine* engine);
    LRESULT OnWizardNext() override;
    // Always back to the search, whatever the history holds.
    LRESULT OnWizardBack() override;
};

// The network printer could not be added.
class PrinterNotAdded : public WSAButtonsPage {
public:
    explicit PrinterNotAdded(CWizardEngine* engine);
};

// The USB printer could not be added; offers the configuration wizard again.
class PNPPrinterNotAdded : public WSAPageBase {
public:
    explicit PNPPrinterNotAdded(CWizardEngine* engine);

private:
    void OnConfigure();
};

class PNPPrinterConfigured : public WSAButtonsPage {
public:
    explicit PNPPrinterConfigured(CWizardEngine* engine);
};

namespace SetupAssistant {

// Runs the full wireless configuration wizard for the engine's printer and,
// when it ends with OK, reads the printer's settings again. False when the
// wizard could not run or did not end with OK.
bool RunWirelessWizard(CWizardEngine& engine, CWnd* parent);

}  // namespace SetupAssistant
