// Opens the compiled help file of the programs.
#pragma once

#include "Platform/Win32.h"

// Shows the help file's table of contents for a window; false when it
// cannot be shown (callers show nothing else).
bool OpenHelp(HWND window, LPCWSTR helpFilePath);
