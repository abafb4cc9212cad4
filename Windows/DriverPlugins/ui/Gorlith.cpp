// The user-interface plug-in as an in-process server: its own strings and
// the library's two exports.
#include "Platform/Resource.h"
#include "Platform/Version.h"
#include "PluginServer.h"
#include "UiPlugin.h"

namespace {

DriverPlugin::ServerCounts counts;

// The library's own strings and version, there while it is loaded.
const Platform::ResourceRegistration ownStrings = [] {
    Platform::ResourceTable table;
    table.strings[Gorlith::kOptionItemName] = u"Velmo Color Profile";
    Platform::AddVersionText(table, "FileVersion=1.0.0.1\nProductVersion=1.0.0.1\n");
    return Platform::RegisterResourceModule(u"Gorlith.dll", std::move(table));
}();

HINSTANCE ThisModule() {
    return GetModuleHandleW(u"Gorlith.dll");
}

IUnknown* CreatePlugin() {
    return Gorlith::CreateUiPlugin(ThisModule());
}

}  // namespace

extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    return DriverPlugin::GetClassObject<counts, Gorlith::kUiPluginClass, CreatePlugin>(clsid, iid, object);
}

extern "C" HRESULT DllCanUnloadNow() {
    return DriverPlugin::CanUnloadNow<counts>();
}
