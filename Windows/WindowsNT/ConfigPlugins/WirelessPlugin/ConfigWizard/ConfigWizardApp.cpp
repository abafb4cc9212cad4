#include "ConfigWizardApp.h"

#include "ConfigWizardResources.h"

AFX_MODULE_STATE* ElvintorModuleState() {
    static AFX_MODULE_STATE state(u"Elvintor.dll", ElvintorResources());
    return &state;
}

CConfigWizardApp::CConfigWizardApp() : CWinApp(nullptr, ElvintorModuleState()) {}

// Made while the library loads: its resources are registered from then on.
CConfigWizardApp theApp;
