// Loading and letting go of one configuration plug-in: its library from the
// program's own folder, the dialog its export makes, and the unload in the
// order the contract asks (DestroyWindow, delete, FreeLibrary).
#pragma once

#include "Windows/WindowsNT/ConfigPlugins/BaseConfigDlg.h"

#include <memory>
#include <string>
#include <string_view>

// A name from the mapping document that may name a library: no path
// separators and no "..", so it cannot reach outside the program's folder.
bool IsAcceptablePluginName(std::u16string_view name);

class ConfigPlugin {
public:
    ConfigPlugin() = default;
    ~ConfigPlugin();
    ConfigPlugin(const ConfigPlugin&) = delete;
    ConfigPlugin& operator=(const ConfigPlugin&) = delete;

    // Loads `name` + ".dll" from the program's folder and calls its export.
    // A refused name, a missing library or export, or a null dialog leave
    // Dialog() null; a library without a usable export stays loaded until
    // Unload. Unloads what was loaded before.
    void Load(std::u16string_view name);
    void Unload();

    CBaseConfigDlg* Dialog() const { return dialog_.get(); }
    HMODULE Module() const { return module_; }

    // Plug-in libraries this process holds through ConfigPlugin objects.
    static int LoadedCount();

private:
    HMODULE module_ = nullptr;
    std::unique_ptr<CBaseConfigDlg> dialog_;
};
