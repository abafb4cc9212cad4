// The layer's internal state: window records in a handle table, message
// queues per thread, and the helpers the classes share.
#pragma once

#include "Mfc/AfxCmn.h"
#include "Mfc/Layer.h"

#include "Gdi.h"

#include "Platform/Clock.h"

#include <array>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Mfc::detail {

using Mfc::WindowChange;

enum class Kind { Generic, Dialog, Button, Edit, Static, ComboBox, ListView, Header, IPAddress, Progress };

struct ComboItem {
    std::u16string text;
    DWORD_PTR data = 0;
};

struct ListColumn {
    std::u16string text;
    int width = 0;
    int format = 0;
};

struct ListRow {
    std::vector<std::u16string> cells;  // cells[0] is the item's own text
    LPARAM data = 0;
    UINT state = 0;
};

struct Timer {
    HWND window = nullptr;
    UINT_PTR id = 0;
    UINT elapse = 0;
    TIMERPROC proc = nullptr;
    Platform::Milliseconds due{0};
};

// One per thread that has windows, timers or a message loop. Other threads
// only post messages, invalidate windows and kill timers.
struct ThreadQueue {
    DWORD thread = 0;
    std::mutex mutex;
    std::condition_variable signal;
    std::deque<MSG> posted;
    std::vector<Timer> timers;
    // Windows waiting for WM_PAINT, in the order they were invalidated.
    std::vector<HWND> paints;
    // Timer calls under way on the owner thread (window, id), and the
    // signal of one ending, which a kill from another thread waits for.
    std::vector<std::pair<HWND, UINT_PTR>> timerCalls;
    std::condition_variable timerCallEnded;
    bool alive = true;
    bool quit = false;
    int quitCode = 0;
};

struct Window {
    HWND handle = nullptr;
    DWORD thread = 0;
    std::shared_ptr<ThreadQueue> queue;  // fixed at creation
    Kind kind = Kind::Generic;
    std::u16string className;
    HWND parent = nullptr;  // the parent of a child, the owner of a popup
    std::vector<HWND> children;
    UINT id = 0;
    std::u16string text;
    DWORD style = 0;
    DWORD exStyle = 0;
    RECT rect;           // parent's client coordinates for a child, the screen's for a popup
    bool dirty = false;  // under the queue's mutex: waiting for WM_PAINT
    bool destroying = false;
    CWnd* object = nullptr;
    std::unique_ptr<CWnd> temporary;  // made by CWnd::FromHandle
    HICON icons[2] = {nullptr, nullptr};
    std::shared_ptr<Surface> surface;  // made by the first GetDC
    std::optional<PictureInfo> picture;

    // Window properties by name, compared in upper case.
    std::map<std::u16string, HANDLE> props;

    // Dialogs.
    UINT defaultId = 0;
    DLGPROC dialogProc = nullptr;     // a dialog made from a template with a raw procedure
    bool dialogKeysToParent = false;  // property pages: the sheet takes Enter and Escape

    // Buttons.
    UINT check = BST_UNCHECKED;

    // Edits.
    int limit = 0x7FFFFFFE;
    int selStart = 0;
    int selEnd = 0;
    char16_t passwordChar = 0;

    // Combo boxes.
    std::vector<ComboItem> items;
    int current = -1;
    bool dropped = false;

    // List views.
    std::vector<ListColumn> columns;
    std::vector<ListRow> rows;
    DWORD listExStyle = 0;
    int topIndex = 0;
    HWND header = nullptr;

    // Progress bars.
    int rangeLow = 0;
    int rangeHigh = 100;
    int position = 0;

    // IP address controls; -1 is a blank field.
    std::array<int, 4> fields{-1, -1, -1, -1};
    int field = 0;
    int fieldDigits = 0;         // digits typed into the field
    bool fieldReplace = true;    // the next digit replaces the field
    bool fieldAdvanced = false;  // the last digit moved on to this field
    bool fieldClosed = false;    // a dot after the last field: it takes no more digits
};

using WindowPtr = std::shared_ptr<Window>;

// Any thread: the window, or null when the handle names none.
WindowPtr FindWindowRecord(HWND window);
// The caller's window, or null (with the last error set) when the handle
// names none or another thread's.
WindowPtr OwnWindow(HWND window);
// Children of the caller's window, in creation order.
std::vector<WindowPtr> Children(const Window& window);

std::shared_ptr<ThreadQueue> CurrentQueue();
// When the calling thread's next timer is due; false when it has none.
bool NextTimerDue(Platform::Milliseconds& due);

struct ModalFrame {
    HWND window;
    CWnd* object;
    int idleTurns = 0;
};

// Per-thread state of the user interface.
struct ThreadState {
    HWND focus = nullptr;
    MSG lastSent;      // the message being handled
    POINT messagePos;  // of the last message taken from the queue or input
    DWORD messageTime = 0;
    std::vector<ModalFrame> modal;
    ModalLoopHook* hook = nullptr;
    std::vector<std::unique_ptr<CWnd>> retired;  // temporaries of destroyed windows
};
ThreadState& State();

// Creates a window on the calling thread.
WindowPtr CreateWindowRecord(Kind kind, std::u16string className, std::u16string text, DWORD style, DWORD exStyle,
                             const RECT& rect, HWND parent, UINT id);
Kind KindOfClass(std::u16string_view className);

// Calls the window's procedure: its object's WindowProc, else its class's
// behaviour. The border of every handler: exceptions are reported, the
// result is then 0.
LRESULT CallWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The class's own behaviour (what CWnd::DefWindowProc reaches).
LRESULT DefaultProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void ReportException(const std::string& what);

void Notify(HWND window, WindowChange change);
void NotifyCreated(HWND window);
void NotifyDestroyed(HWND window);
void NotifyModal(HWND window, bool entering);
void NotifyBeep(UINT type);

// Sends WM_COMMAND with a notification code from a control to its parent.
void NotifyParent(const Window& control, UINT code);
// Sends WM_NOTIFY from a control to its parent; the parent's result.
LRESULT NotifyParent(const Window& control, NMHDR& header);

// Pixels from dialog units.
RECT DialogUnitsToPixels(int x, int y, int cx, int cy);

// Dialog manager: Enter and Escape for the dialog around the focus.
bool HandleDialogKey(const MSG& msg);
// What a message loop does before dispatching input: the PreTranslateMessage
// walk from the target up, then the dialog manager. True when taken.
bool TranslateInput(MSG& msg);
// The key state GetKeyState reports on the calling thread.
void SetKeyDown(UINT virtualKey, bool down);
// The clipboard's text (CF_UNICODETEXT), empty when it has none.
std::u16string ClipboardText();
// The user's language as the POSIX locale names it; English (US) else.
LANGID LocaleLanguage();
// Makes the message the thread's last input (its point and time).
void RecordInput(const MSG& msg);
POINT CursorPosition();
void SetCursorPosition(POINT screen);
POINT ScreenOrigin(const Window& window);

// The control behaviours.
LRESULT ButtonProc(Window& w, UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
LRESULT EditProc(Window& w, UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
LRESULT ComboProc(Window& w, UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
LRESULT ListProc(Window& w, UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
LRESULT IPAddressProc(Window& w, UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
LRESULT ProgressProc(Window& w, UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
std::u16string IPAddressText(const Window& w);

// Private messages of the layer's input (never seen by the system's code
// unless it subclasses a control and passes them on).
constexpr UINT kInputChooseItem = 0x7F00;  // wParam: index
// Another process of the user asked for ShowWindow (wParam: the command).
constexpr UINT kRemoteShowWindow = 0x7F01;

void AdjustWaitCursor(int delta);

// Starts the terminal front end on the calling thread when the environment
// asks for one (see TerminalFrontEnd); once per thread.
void StartTerminalFrontEndIfWanted();

int CompareNoCase(std::u16string_view a, std::u16string_view b);
std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

// The window's owner chain up to and including its top-level window.
HWND TopLevel(HWND window);

// Why the user cannot reach the window ("is hidden", "is inside a disabled
// window" ...), empty when they can.
std::string WhyUnreachable(HWND window);
// What a person does to a control; WhyUnfit tells why the control's kind
// does not take it, empty when it does.
enum class UserAction { Press, Type, Pick, Check };
std::string WhyUnfit(const Window& w, UserAction action);
bool IsCheckable(const Window& w);
bool IsRadio(const Window& w);
// Temporary wrapper objects.
CWnd* TemporaryObject(Window& window);

}  // namespace Mfc::detail

// Lets the layer reach CWnd internals without making them public.
struct CWndAccess {
    static BOOL ReflectedNotify(CWnd& w, UINT message, WPARAM wp, LPARAM lp, LRESULT* result) {
        return w.OnChildNotify(message, wp, lp, result);
    }
    static void PostNcDestroy(CWnd& w) { w.PostNcDestroy(); }
    static void SetContinueModal(CWnd& w, bool value) { w.continueModal_ = value; }
    static void SetModalResult(CWnd& w, int result) { w.m_nModalResult = result; }
};
