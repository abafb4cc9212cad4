// The configuration utility's application object: one instance per
// machine; a second start brings the first one's window forward and ends.
#pragma once

#include "Mfc/AfxWin.h"

#include <string>

class CConfigUtilityApp : public CWinApp {
public:
    CConfigUtilityApp();
    ~CConfigUtilityApp() override;
    BOOL InitInstance() override;

    // Why no dialog opened: the first instance was brought forward instead.
    // Empty when the dialog ran.
    const std::string& Refusal() const { return refusal_; }

private:
    HANDLE instanceEvent_ = nullptr;  // held while the program runs
    std::string refusal_;
};
