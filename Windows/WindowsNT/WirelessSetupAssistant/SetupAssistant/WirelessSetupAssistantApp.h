// The setup assistant's application object: one instance per machine; a
// second start brings the first one's wizard forward and ends. Started with
// the name of a print queue on USB, it configures and installs that printer.
#pragma once

#include "Mfc/AfxWin.h"
#include "WSAWizardSheet.h"

#include <memory>
#include <string>

class CWirelessSetupAssistantApp : public CWinApp {
public:
    CWirelessSetupAssistantApp();
    ~CWirelessSetupAssistantApp() override;
    // Runs the wizard, when it may run, and answers FALSE: no message loop
    // follows.
    BOOL InitInstance() override;

    // The last wizard made, null when none was.
    WSAWizardSheet* Sheet() const { return sheet_.get(); }
    // Why the start-up ended without a wizard (the first instance brought
    // forward instead, or a queue refused); empty when one ran.
    const std::string& Refusal() const { return refusal_; }

private:
    // Why the wizard may not run for the queue named on the command line,
    // empty when it may; stores the name in the engine.
    std::string RefuseQueue(const CString& queue);

    HANDLE instanceEvent_ = nullptr;  // held while the program runs
    std::unique_ptr<WSAWizardSheet> sheet_;
    std::string refusal_;
};

namespace SetupAssistant {

// 6.0 and later, or 5.1 with a service pack.
bool VersionAllowsWizard();

}  // namespace SetupAssistant
