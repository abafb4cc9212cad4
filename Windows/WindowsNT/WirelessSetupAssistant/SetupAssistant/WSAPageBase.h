// The base of the setup assistant's pages: the shared engine and the page
// history that makes Back retrace the path actually taken.
#pragma once

#include "Mfc/AfxDlgs.h"
#include "WizardEngine.h"

class WSAPageBase : public CPropertyPage {
public:
    WSAPageBase(UINT templateId, CWizardEngine* engine);

    // Records this page in the history and goes to the next page. A page
    // that chooses its own target calls it only when it really leaves (not
    // when it answers -1 to stay), so that Back never "goes" to itself.
    LRESULT OnWizardNext() override;
    // Goes to the page most recently left by Next.
    LRESULT OnWizardBack() override;

protected:
    CWizardEngine* m_engine;
};
