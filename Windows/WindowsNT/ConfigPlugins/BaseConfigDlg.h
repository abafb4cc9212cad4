// The contract between the configuration utility and a configuration
// plug-in. A plug-in is a shared library that exports CreateConfigDialog;
// the utility embeds the dialog it returns as a child of its own window and
// drives it through the virtual operations below, in this slot order.
//
// The host's order: create; create the window from the plug-in's own
// template (TemplateId()); NewPrinterSelected, GetPrinterGuid,
// GetOptionalButtons; ApplySettings then NeedsRescanAfterApply on Apply;
// AreSettingsSaved before it lets go; and to let go: DestroyWindow, delete,
// FreeLibrary.
#pragma once

#include "Common/Headers/PrinterConfig.h"
#include "Mfc/AfxWin.h"
#include "Windows/Win32-USBUtils/USBUtils.h"

#include <cstdint>

// Status codes of the plug-in operations.
constexpr int kConfigSuccess = 0;
constexpr int kConfigReadSuccess = 1;  // a read that succeeded, as some plug-ins report it
constexpr int kConfigNoMemory = 1001;
constexpr int kConfigUnsupported = 1002;
constexpr int kConfigUnreachable = 1003;  // the printer was not reachable, or a request failed
constexpr int kConfigInvalid = 1004;      // validation failed (already told), or the action failed

// Optional host buttons (GetOptionalButtons); a clear bit hides the button.
constexpr unsigned kConfigButtonHelp = 1;
constexpr unsigned kConfigButtonWizard = 2;
constexpr unsigned kConfigButtonTest = 4;

// Dialog templates of the plug-ins, in their own modules.
constexpr std::uint32_t kWirelessConfigTemplate = 106;
constexpr std::uint32_t kDrelanConfigTemplate = 100;

class CBaseConfigDlg : public CDialog {
public:
    // The window is made later by the host, from the template `templateId`
    // of the plug-in's module.
    explicit CBaseConfigDlg(std::uint32_t templateId) : CDialog(templateId, nullptr), m_templateId(templateId) {}
    ~CBaseConfigDlg() override = default;

    // The resource id of the plug-in's dialog template; the host loads its
    // low 16 bits from the plug-in's module.
    std::uint32_t m_templateId;

    virtual unsigned GetOptionalButtons() = 0;
    virtual int ApplySettings() = 0;
    // The window exists when this is called; `description` is the model
    // record of the printer's ids (a default one when none matches).
    virtual int NewPrinterSelected(const PrinterInfoResult& printer, const PrinterConfig& description) = 0;
    virtual bool AreSettingsSaved() = 0;
    virtual bool IsPrinterSupported(const PrinterInfoResult& printer, const PrinterConfig& description) = 0;
    virtual int ShowHelp() { return kConfigSuccess; }
    virtual int RunWizard() { return kConfigSuccess; }
    virtual int TestConnection() { return kConfigSuccess; }
    virtual CString GetPrinterGuid() = 0;
    // Asked after every ApplySettings, whatever it returned.
    virtual bool NeedsRescanAfterApply() { return false; }

    // Plug-ins override CWnd::DestroyWindow to run it under their own
    // module state (AFX_MANAGE_STATE), as every operation the host calls.
};

// The factory every plug-in exports by this plain name: a new dialog
// without a window, owned by the host from then on, or null.
#define CONFIG_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
using CreateConfigDialogProc = CBaseConfigDlg* (*)();
constexpr const char* kCreateConfigDialogExport = "CreateConfigDialog";
