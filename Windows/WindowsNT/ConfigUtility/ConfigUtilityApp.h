// The configuration utility's application object: one instance per user; a
// second start brings the first one's window forward and ends.
#pragma once

#include "Mfc/AfxWin.h"

class CConfigUtilityApp : public CWinApp {
public:
    CConfigUtilityApp();
    ~CConfigUtilityApp() override;
    BOOL InitInstance() override;

private:
    HANDLE instanceEvent_ = nullptr;  // held while the program runs
};
