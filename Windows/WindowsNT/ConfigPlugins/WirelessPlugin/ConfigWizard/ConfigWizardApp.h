// The library's application object and module state: every exported entry
// point runs under the library's state, so that its own resources are used.
#pragma once

#include "Mfc/AfxWin.h"

class CConfigWizardApp : public CWinApp {
public:
    CConfigWizardApp();
};

// The library's module state, for AFX_MANAGE_STATE in exported entries.
AFX_MODULE_STATE* ElvintorModuleState();
