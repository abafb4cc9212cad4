#include "WSAPageBase.h"

WSAPageBase::WSAPageBase(UINT templateId, CWizardEngine* engine) : CPropertyPage(templateId), m_engine(engine) {}

LRESULT WSAPageBase::OnWizardNext() {
    m_engine->PushPage(GetTemplateId());
    return 0;
}

LRESULT WSAPageBase::OnWizardBack() {
    // An empty history leaves the sheet's own order in charge.
    return static_cast<LRESULT>(m_engine->PopPage());
}
