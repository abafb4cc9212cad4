// The resource handle of the MFC module state: where dialog, menu and string
// lookups of the user interface take their resources from. One per process;
// it starts as the program's own module.
#pragma once

#include "Platform/Win32.h"

HINSTANCE AfxGetResourceHandle();
void AfxSetResourceHandle(HINSTANCE resource);
