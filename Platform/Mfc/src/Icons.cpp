// Icons: a module's icon resource stands for itself; windows only keep and
// hand back the handle.
#include "Mfc/WinUser.h"

#include "Platform/Resource.h"

HICON LoadIconW(HINSTANCE instance, LPCWSTR name) {
    HRSRC resource = FindResourceW(instance, name, u"ICON");
    if (resource == nullptr) return nullptr;
    return static_cast<HICON>(LockResource(LoadResource(instance, resource)));
}
