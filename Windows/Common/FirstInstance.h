// The hand-over of a program's second start to its first instance, for the
// programs that run once per machine.
#pragma once

#include "Mfc/AfxWin.h"

#include <string>

// Brings the first instance's window (titled `title`) forward, restored when
// minimised, and returns what the second start tells the user who started
// it; `program` names the program in that line ("the setup assistant").
inline std::string BringFirstInstanceForward(const WCHAR* title, const std::string& program) {
    HWND first = FindWindowW(nullptr, title);
    if (first == nullptr) return program + " is open already in another process, whose window was not found";
    HWND popup = GetLastActivePopup(first);
    if (IsIconic(first)) ShowWindow(first, SW_RESTORE);
    SetForegroundWindow(popup);
    DWORD process = 0;
    GetWindowThreadProcessId(first, &process);
    return program + " is open already (process " + std::to_string(process) + "); it was asked to come to the front";
}
