#include "Windows/Common/HelpLauncher.h"

#include "Platform/HtmlHelp.h"

bool OpenHelp(HWND window, LPCWSTR helpFilePath) {
    return HtmlHelpW(window, helpFilePath, HH_DISPLAY_TOC, 0) != nullptr;
}
