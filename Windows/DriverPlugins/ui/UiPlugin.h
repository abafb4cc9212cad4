// The user-interface plug-in object: the driver's user interface asks it
// for its pages, option items and settings block.
#pragma once

#include "Platform/DriverUi.h"

namespace Gorlith {

// {ABCE80D7-9F46-11D1-882A-00C04FB961EC}
inline constexpr CLSID kUiPluginClass{0xABCE80D7, 0x9F46, 0x11D1, {0x88, 0x2A, 0x00, 0xC0, 0x4F, 0xB9, 0x61, 0xEC}};

inline constexpr DWORD kPluginIcon = 64062;
inline constexpr UINT kOptionItemName = 1;  // the plug-in's own string

// A new plug-in object with one reference; null when memory runs out.
// module: the plug-in library, whose own strings name the option item.
IPrintOemUI* CreateUiPlugin(HINSTANCE module);

}  // namespace Gorlith
