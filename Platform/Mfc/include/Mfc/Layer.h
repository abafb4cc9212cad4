// The dialog layer's own interfaces, beside the MFC-shaped classes: user
// input, observers of the window tree, the message-box handler, the hook of
// idle modal loops, localisation, and the plain-text rendering of a window.
// Front ends (a terminal, a desktop toolkit) and the test driver are built
// on these.
#pragma once

#include "Mfc/AfxWin.h"

#include "Platform/Png.h"

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

namespace Mfc {

// User input, delivered on the window's thread the way a front end would:
// each call makes an input message (its point at the window's centre, or
// at the given point), lets the dialog manager see it, then dispatches it.
// A hidden or disabled window, or one inside a hidden or disabled window,
// takes no input: the calls then return false and do nothing.
namespace Input {
bool Click(HWND window);
bool ClickAt(HWND window, POINT client);
// A double click: down, up, double-click, up.
bool DoubleClickAt(HWND window, POINT client);
// Puts the keyboard focus on the window as Tab would (an edit selects its
// whole text).
bool Focus(HWND window);
// Types into the window that has the focus (an edit or IP address
// control), one UTF-16 unit at a time, replacing the selection. Each unit
// is a key press: WM_KEYDOWN of its key, WM_CHAR unless pre-translation or
// the dialog manager took the key, WM_KEYUP. Units 1-26 are typed with Ctrl
// held (u"\x16" is Ctrl+V: a paste in an edit); digits and letters have
// their keys, other printable units come as VK_PACKET.
bool Type(std::u16string_view text);
bool Key(UINT virtualKey);
// The user picks item `index` of a drop-down list.
bool ChooseComboItem(HWND combo, int index);
// Closes a window with its close box (a dialog's Cancel).
bool Close(HWND window);
}  // namespace Input

// Whether the user could reach the window: it and every ancestor visible
// and enabled.
bool IsWindowReachable(HWND window);

enum class WindowChange { Text, Visibility, Enabling, Position, Focus, Contents, Selection, Check, Style };

// Told about the window tree on the thread that owns the windows. Register
// with AddWindowObserver; an observer must outlive its registration.
class WindowObserver {
public:
    virtual ~WindowObserver() = default;
    virtual void OnWindowCreated(HWND) {}
    virtual void OnWindowDestroyed(HWND) {}
    virtual void OnWindowChanged(HWND, WindowChange) {}
    virtual void OnModalLoop(HWND, bool entering) { (void)entering; }
    virtual void OnBeep(UINT) {}
};
void AddWindowObserver(WindowObserver* observer);
void RemoveWindowObserver(WindowObserver* observer);

struct MessageBoxRequest {
    HWND owner = nullptr;
    std::u16string text;
    std::u16string caption;
    UINT type = MB_OK;
};
// Answers a message box with one of its buttons' ids. With no handler the
// box is written to standard error and answered with its default button.
using MessageBoxHandler = std::function<int(const MessageBoxRequest&)>;
// Process-wide; returns the previous handler.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
// The ids of a box type's buttons, in order; its default button.
std::vector<int> MessageBoxButtons(UINT type);
int DefaultMessageBoxButton(UINT type);

// Called when a modal loop of the calling thread has nothing to do, before
// it waits. Return true when something was done (the loop then looks at its
// queue again), false to let it wait. Per thread.
class ModalLoopHook {
public:
    virtual ~ModalLoopHook() = default;
    virtual bool OnModalIdle(HWND window, int idleTurn) = 0;
};
ModalLoopHook* SetModalLoopHook(ModalLoopHook* hook);
// The terminal front end: a person runs a program's dialogs from a
// terminal, or a script of the same commands runs them unattended. After
// every change it shows the innermost dialog (RenderWindow), then reads one
// command a line:
//   press <id|caption>        click a button
//   type <id> <text>          replace a control's text ("" clears it)
//   pick <id> <index|text>    choose a combo item or click a list row
//   check <id> [on|off]       set a check box or radio button
//   answer <button|id>        answer the open message box (OK, Cancel, Yes, No ...)
//   show | help | quit        draw again, list the commands, cancel every dialog
// Blank lines and lines starting with '#' are skipped. A script's bad
// command, or its end while a dialog is open, ends every dialog with Cancel
// and marks the run failed.
//
// A program needs no code for it: a modal loop of a thread with no hook
// (no test driver) starts one by itself, reading the script file that
// VELMO_UI_SCRIPT names ("-": standard input as a script), else standard
// input: a person's commands on a terminal, a script otherwise. A failed
// script then ends the program with status 2.
class TerminalFrontEnd {
public:
    // Installs itself on the calling thread (modal loop hook, window
    // observer, message-box handler) until destroyed.
    TerminalFrontEnd(std::istream& input, std::ostream& output, bool interactive);
    ~TerminalFrontEnd();
    TerminalFrontEnd(const TerminalFrontEnd&) = delete;
    TerminalFrontEnd& operator=(const TerminalFrontEnd&) = delete;

    bool Failed() const;

    class Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// The windows of the calling thread's running modal loops, innermost last.
std::vector<HWND> ModalWindows();
// Ends the innermost modal loop of `window` with `result`.
void AbortModalLoop(HWND window, int result);

// A window procedure, timer procedure or handler that throws is stopped at
// the window's border (the message's result is 0) and reported here; by
// default on standard error. Process-wide; returns the previous reporter.
using ExceptionReporter = std::function<void(const std::string& what)>;
ExceptionReporter SetExceptionReporter(ExceptionReporter reporter);

// Dispatches one message of the calling thread's queue, or a due timer,
// through the dialog manager; false when there was none.
bool PumpMessage();
// Waits (on the machine's clock) until a message is posted or a timer is
// due.
void WaitForMessage();
// Waits up to `realMilliseconds` of real time for a message to be posted
// to the calling thread; true when one is there. For test drivers, which
// cap their waits in real time whatever the clock.
bool WaitForPostedMessage(int realMilliseconds);

// Nested wait-cursor requests of the process (CWaitCursor, BeginWaitCursor).
int WaitCursorDepth();

// Language. The user's language comes from SetUserDefaultLangID, else the
// environment variable VELMO_LANGID (0x0407 or 1031), else the POSIX locale
// (LC_ALL, LC_MESSAGES, LANG: de_DE gives 0x0407), else English (US).
void SetUserDefaultLangID(LANGID language);  // 0: back to the environment
// The id offset of a language: 0 English, 1000 traditional Chinese, 2000
// Chinese, 3000 Czech, 4000 French, 5000 German, 6000 Italian, 7000
// Japanese, 8000 Korean, 9000 Polish, 10000 Portuguese, 11000 Russian, 12000
// Spanish, 13000 Turkish, 0 for any other; `step` 100 for a library that
// numbers its languages in hundreds.
int LanguageOffset(LANGID language, int step = 1000);
// The string `englishId + offset` of the current resource module, or the
// English string when the language has none.
CString LoadLocalizedString(UINT englishId, int offset);
// `englishId + offset` when the current resource module has that dialog
// template, else `englishId`.
UINT LocalizedDialogId(UINT englishId, int offset);

// A plain-text picture of a window and its children: a frame with the
// caption, the visible controls placed by their position (one character
// for 4 x 8 dialog units), then one line per control with its id, kind,
// text and states, and the rows of list views. UTF-8.
std::string RenderWindow(HWND window);
// What a control that shows a picture tells the text rendering: the
// picture's size and, for an animation, the frame on show (from 0) and the
// number of frames (0 for a still picture). Owner thread. Observers are not
// told: an animation would flood them.
struct PictureInfo {
    SIZE size;
    int frame = 0;
    int frames = 0;
};
void SetPictureInfo(HWND window, const PictureInfo& info);

// What a person would see of the window: its own surface and those of its
// visible children, on the button-face colour (Mfc/WinGdi.h). Owner thread;
// an empty image for a window that is not the caller's.
Platform::RgbImage CaptureWindow(HWND window);
// Writes CaptureWindow to a PNG file. Throws std::runtime_error.
void WriteWindowPng(HWND window, const std::string& path);
// Device contexts, bitmaps and brushes not yet deleted (tests prove that
// nothing leaks).
std::size_t GdiObjectCount();

// Short name of a window for messages: kind, id and text.
std::string DescribeWindow(HWND window);
// UTF-8 of UTF-16 text, an unpaired surrogate as U+FFFD (for messages).
std::string Utf8(std::u16string_view text);

}  // namespace Mfc
