// The setup assistant's pages other than the network printer list: the
// introduction, the plug-and-play road and the result pages.
#pragma once

#include "PictureEx.h"
#include "WSAPageBase.h"

// Introduction of the network road.
class StandAloneDlg : public WSAPageBase {
public:
    explicit StandAloneDlg(CWizardEngine* engine);
    LRESULT OnWizardNext() override;
};

// The printer was added.
class StandAloneAdded : public WSAPageBase {
public:
    explicit StandAloneAdded(CWizardEngine* engine);
    BOOL OnSetActive() override;
};

// The first page of a start for a queue on USB: configures the printer's
// wireless settings through the configuration wizard.
class PNPWelcomePage : public WSAPageBase {
public:
    explicit PNPWelcomePage(CWizardEngine* engine);
    BOOL OnSetActive() override;

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

class PNPSearchNotFoundPage : public WSAPageBase {
public:
    explicit PNPSearchNotFoundPage(CWizardEngine* engine);
    // The search before it leaves no button live.
    BOOL OnSetActive() override;
    LRESULT OnWizardNext() override;
    // Always back to the search, whatever the history holds.
    LRESULT OnWizardBack() override;
};

// The network printer could not be added.
class PrinterNotAdded : public WSAPageBase {
public:
    explicit PrinterNotAdded(CWizardEngine* engine);
    BOOL OnSetActive() override;
};

// The USB printer could not be added; offers the configuration wizard again.
class PNPPrinterNotAdded : public WSAPageBase {
public:
    explicit PNPPrinterNotAdded(CWizardEngine* engine);

private:
    void OnConfigure();
};

class PNPPrinterConfigured : public WSAPageBase {
public:
    explicit PNPPrinterConfigured(CWizardEngine* engine);
    BOOL OnSetActive() override;
};

namespace SetupAssistant {

// Runs the full wireless configuration wizard for the engine's printer and,
// when it ends with OK, reads the printer's settings again. False when the
// wizard could not run or did not end with OK.
bool RunWirelessWizard(CWizardEngine& engine, CWnd* parent);

}  // namespace SetupAssistant
