// The utility's side of a plug-in's pane under test: a host dialog of the
// test's own and the pane embedded in it as the utility embeds it.
#pragma once

#include "ConfigPluginHost.h"

#include "Mfc/AfxWin.h"
#include "Platform/Resource.h"

#include <gtest/gtest.h>

#include <string_view>

namespace PluginTest {

class PaneHost {
public:
    // The window a modal session runs.
    CDialog& Window() { return host_; }

    // Loads the plug-in `name` and makes its pane a shown child of the host.
    CBaseConfigDlg& Embed(ConfigPlugin& plugin, std::u16string_view name) {
        plugin.Load(name);
        CBaseConfigDlg* dialog = plugin.Dialog();
        EXPECT_NE(dialog, nullptr);
        auto dialogTemplate = Platform::FindDialogTemplate(plugin.Module(), dialog->m_templateId & 0xFFFF);
        EXPECT_TRUE(dialog->CreateIndirect(dialogTemplate, &host_));
        dialog->ShowWindow(SW_SHOWNORMAL);
        return *dialog;
    }

private:
    static constexpr char kResources[] = R"rc(
DIALOG 300 340 240 "Host"
    DEFPUSHBUTTON 1 "OK" 230 220 50 14
    PUSHBUTTON 2 "Cancel" 285 220 50 14
END
)rc";

    class HostDialog : public CDialog {
    public:
        HostDialog() : CDialog(300) {}
    };

    Platform::ResourceRegistration resources_{
        Platform::RegisterMainResources(Platform::ParseResourceText(kResources, "host"))};
    HostDialog host_;
};

}  // namespace PluginTest
