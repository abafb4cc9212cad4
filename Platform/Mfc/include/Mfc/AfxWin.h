// The dialog classes of the user interface: module states and application
// objects, windows, dialogs with data exchange, the basic controls, message
// boxes and the wait cursor. Class and member names are those the system's
// dialogs call.
//
// Message handling: instead of message-map macros a class registers its
// handlers in its constructor with MapCommand, MapControl, MapNotify,
// MapMessage, MapControlReflect and MapNotifyReflect; the virtual
// OnCommand/OnNotify/WindowProc chain of a window consults them.
#pragma once

#include "Mfc/AfxTypes.h"
#include "Mfc/CString.h"
#include "Mfc/WinUser.h"

#include "Platform/AfxResource.h"
#include "Platform/Resource.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CWinApp;
class CWnd;
class CDataExchange;

// Where a library's user interface takes its resources from. The program
// has one; each library with windows has its own, named after the library
// and holding the library's resource table (registered under that name for
// the life of the state). A thread runs under one state at a time.
class AFX_MODULE_STATE {
public:
    // The program's.
    AFX_MODULE_STATE();
    AFX_MODULE_STATE(const char16_t* moduleName, Platform::ResourceTable resources);
    ~AFX_MODULE_STATE();
    AFX_MODULE_STATE(const AFX_MODULE_STATE&) = delete;
    AFX_MODULE_STATE& operator=(const AFX_MODULE_STATE&) = delete;

    // The library's module (null for the program: its own module).
    HINSTANCE InstanceHandle();
    HINSTANCE ResourceHandle();
    const std::u16string& ModuleName() const { return name_; }
    CWinApp* m_pCurrentWinApp = nullptr;

    // For AfxSetModuleState: the state's resource handle, its module found
    // once the library has finished loading.
    Platform::ResourceSlot* Slot();

private:
    std::u16string name_;
    bool program_;
    Platform::ResourceRegistration registration_;
    std::once_flag resolved_;
    HINSTANCE instance_ = nullptr;
    HMODULE loaded_ = nullptr;  // a reference taken by this state
    Platform::ResourceSlot slot_;
};

AFX_MODULE_STATE* AfxGetAppModuleState();
// The calling thread's current state (the program's unless switched).
AFX_MODULE_STATE* AfxGetModuleState();
// Makes `state` (null: the program's) current on this thread; returns the
// previous one.
AFX_MODULE_STATE* AfxSetModuleState(AFX_MODULE_STATE* state);

// Runs the rest of a scope under a library's module state.
class AFX_MAINTAIN_STATE {
public:
    explicit AFX_MAINTAIN_STATE(AFX_MODULE_STATE* state) : previous_(AfxSetModuleState(state)) {}
    ~AFX_MAINTAIN_STATE() { AfxSetModuleState(previous_); }
    AFX_MAINTAIN_STATE(const AFX_MAINTAIN_STATE&) = delete;
    AFX_MAINTAIN_STATE& operator=(const AFX_MAINTAIN_STATE&) = delete;

private:
    AFX_MODULE_STATE* previous_;
};
#define AFX_MANAGE_STATE(p) AFX_MAINTAIN_STATE afxMaintainState_(p)

// The application object of the program or of a library (one per module
// state).
class CWinApp {
public:
    // `appName` null: the state's string 57344 (the application title), or
    // the module's name.
    explicit CWinApp(const char16_t* appName = nullptr, AFX_MODULE_STATE* state = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance() { return TRUE; }
    virtual int ExitInstance() { return 0; }
    // Pumps messages until WM_QUIT; returns ExitInstance().
    virtual int Run();
    void BeginWaitCursor();
    void EndWaitCursor();

    LPCWSTR m_pszAppName = nullptr;
    CWnd* m_pMainWnd = nullptr;
    std::vector<CString> m_arguments;  // the command line, program name first

private:
    AFX_MODULE_STATE* state_;
    CString name_;
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
LPCWSTR AfxGetAppName();
HINSTANCE AfxGetInstanceHandle();
// Runs the program's application object: InitInstance, then Run when it
// returned TRUE, else ExitInstance.
int AfxWinMain(int argc, char** argv);

// Message boxes go through Mfc::SetMessageBoxHandler (Mfc/Layer.h). The
// caption of AfxMessageBox is the current application's name.
int AfxMessageBox(LPCWSTR text, UINT type = MB_OK, UINT helpId = 0);
// The text is the string `promptId` of the current resource module.
int AfxMessageBox(UINT promptId, UINT type = MB_OK, UINT helpId = static_cast<UINT>(-1));

// Counts nested wait-cursor requests (Mfc::WaitCursorDepth()).
class CWaitCursor {
public:
    CWaitCursor();
    ~CWaitCursor();
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
    void Restore() {}
};

// Worker threads. AfxBeginThread starts `proc(param)` on a thread of its
// own; its CWinThread deletes itself when the procedure returns unless
// m_bAutoDelete was cleared before ResumeThread (create it with
// CREATE_SUSPENDED, clear the flag, then resume it). An owner that keeps
// the object may wait on m_hThread and deletes the object itself, at any
// time after ResumeThread: the thread no longer touches it. Deleting it
// before then ends the thread without running the procedure.
using AFX_THREADPROC = UINT (*)(LPVOID param);
constexpr DWORD CREATE_SUSPENDED = 0x00000004;
constexpr int THREAD_PRIORITY_NORMAL = 0;

class CWinThread {
public:
    virtual ~CWinThread();
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    // Lets a suspended thread run; the suspend count before the call (1 the
    // first time, then 0).
    DWORD ResumeThread();
    operator HANDLE() const { return m_hThread; }

    HANDLE m_hThread = nullptr;
    DWORD m_nThreadID = 0;
    BOOL m_bAutoDelete = TRUE;

private:
    friend CWinThread* AfxBeginThread(AFX_THREADPROC, LPVOID, int, UINT, DWORD, void*);
    struct Start;
    CWinThread(AFX_THREADPROC proc, LPVOID param);
    static DWORD Run(LPVOID ticket);

    std::shared_ptr<Start> start_;
};

// Null (with the last error set) when no thread could be started. The
// priority and stack size are left to the system.
CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority = THREAD_PRIORITY_NORMAL, UINT stackSize = 0,
                           DWORD flags = 0, void* securityAttributes = nullptr);

class CWnd {
public:
    CWnd();
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;
    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    // The object attached to a window, or a temporary one of the control's
    // class, valid until the outermost modal loop of the thread ends.
    static CWnd* FromHandle(HWND window);
    static CWnd* FromHandlePermanent(HWND window);
    BOOL Attach(HWND window);
    HWND Detach();
    // Attaches this object to an existing window: its messages then reach
    // this object's WindowProc before the window's own behaviour.
    BOOL SubclassWindow(HWND window);
    BOOL SubclassDlgItem(UINT id, CWnd* parent);
    HWND UnsubclassWindow();

    // Creates a plain child or popup window (a front end's container, a
    // message target); dialogs come from templates instead.
    BOOL CreateEx(DWORD exStyle, LPCWSTR className, LPCWSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id);
    virtual BOOL DestroyWindow();

    CWnd* GetParent() const;
    CWnd* GetTopLevelParent() const;
    CWnd* GetDlgItem(int id) const;
    int GetDlgCtrlID() const;
    DWORD GetStyle() const;
    DWORD GetExStyle() const;
    BOOL ModifyStyle(DWORD remove, DWORD add, UINT flags = 0);
    BOOL ModifyStyleEx(DWORD remove, DWORD add, UINT flags = 0);

    void SetWindowText(LPCWSTR text);
    int GetWindowText(LPWSTR buffer, int size) const;
    void GetWindowText(CString& text) const;
    int GetWindowTextLength() const;
    BOOL ShowWindow(int command);
    BOOL IsWindowVisible() const;
    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    CWnd* SetFocus();
    static CWnd* GetFocus();
    void SetIcon(HICON icon, BOOL big);
    HICON GetIcon(BOOL big) const;

    void GetClientRect(LPRECT rect) const;
    void GetWindowRect(LPRECT rect) const;
    BOOL SetWindowPos(const CWnd* insertAfter, int x, int y, int width, int height, UINT flags);
    void MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE);
    void MoveWindow(LPCRECT rect, BOOL repaint = TRUE);
    void ScreenToClient(LPPOINT point) const;
    void ScreenToClient(LPRECT rect) const;
    void ClientToScreen(LPPOINT point) const;
    void ClientToScreen(LPRECT rect) const;
    void CenterWindow(CWnd* alternateOwner = nullptr);
    void Invalidate(BOOL erase = TRUE);
    void InvalidateRect(LPCRECT rect, BOOL erase = TRUE);
    void UpdateWindow();

    void SetDlgItemText(int id, LPCWSTR text);
    int GetDlgItemText(int id, CString& text) const;
    UINT GetDlgItemInt(int id, BOOL* translated = nullptr, BOOL isSigned = TRUE) const;
    void SetDlgItemInt(int id, UINT value, BOOL isSigned = TRUE);
    void CheckDlgButton(int id, UINT check);
    UINT IsDlgButtonChecked(int id) const;
    void CheckRadioButton(int first, int last, int check);
    int GetCheckedRadioButton(int first, int last) const;
    LRESULT SendDlgItemMessage(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    UINT_PTR SetTimer(UINT_PTR id, UINT elapse, TIMERPROC proc = nullptr);
    BOOL KillTimer(UINT_PTR id);
    // The message being handled on this thread; pt and time are those of
    // the last message taken from the queue or from user input.
    static const MSG* GetCurrentMessage();
    int MessageBox(LPCWSTR text, LPCWSTR caption = nullptr, UINT type = MB_OK);
    void BeginWaitCursor();
    void EndWaitCursor();

    // Data exchange between the controls and the members of this window
    // (DoDataExchange); false when a validation failed.
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    // Modal operation: RunModalLoop pumps messages until EndModalLoop (or
    // until the window is gone) and returns the result.
    int RunModalLoop(DWORD flags = 0);
    virtual BOOL ContinueModal();
    virtual void EndModalLoop(int result);
    // DoModal in two halves, for test drivers and front ends that run the
    // loop themselves: StartModal creates and shows the modal window (false
    // when it cannot be created); FinishModal closes it and returns the
    // result. Dialogs and property sheets implement them.
    virtual bool StartModal() { return false; }
    virtual INT_PTR FinishModal() { return -1; }

    // Input for this window or a child of it, before it is dispatched (for
    // a typed key, before its WM_CHAR is made): TRUE swallows it. Asked of
    // the target's object first, then of each ancestor's up to the
    // top-level window.
    virtual BOOL PreTranslateMessage(MSG*) { return FALSE; }

    // Window procedure chain.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);

protected:
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    // WM_COMMAND: reflected to the sending control's object first, then the
    // handlers registered with MapCommand/MapControl.
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    // WM_NOTIFY: reflected to the sending control's object first, then the
    // handlers registered with MapNotify.
    virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result);
    // A notification of this control reflected by its parent; TRUE when a
    // handler registered with MapControlReflect/MapNotifyReflect took it
    // (the parent then does not see it).
    virtual BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    virtual void DoDataExchange(CDataExchange*) {}
    virtual void PreSubclassWindow() {}
    // After the window is gone and this object detached.
    virtual void PostNcDestroy() {}

    using CommandHandler = std::function<void()>;
    using NotifyHandler = std::function<void(NMHDR*, LRESULT*)>;
    using MessageHandler = std::function<LRESULT(WPARAM, LPARAM)>;
    // WM_COMMAND with notification 0 (BN_CLICKED, menu and accelerator).
    void MapCommand(UINT id, CommandHandler handler) { MapControl(BN_CLICKED, id, std::move(handler)); }
    void MapControl(UINT code, UINT id, CommandHandler handler);
    void MapNotify(UINT code, UINT id, NotifyHandler handler);
    void MapMessage(UINT message, MessageHandler handler);
    void MapControlReflect(UINT code, CommandHandler handler);
    void MapNotifyReflect(UINT code, NotifyHandler handler);
    template <class T>
    void MapCommand(UINT id, void (T::*fn)()) {
        MapCommand(id, Bind(fn));
    }
    template <class T>
    void MapControl(UINT code, UINT id, void (T::*fn)()) {
        MapControl(code, id, Bind(fn));
    }
    template <class T>
    void MapNotify(UINT code, UINT id, void (T::*fn)(NMHDR*, LRESULT*)) {
        T* self = static_cast<T*>(this);
        MapNotify(code, id, [self, fn](NMHDR* h, LRESULT* r) { (self->*fn)(h, r); });
    }
    template <class T>
    void MapMessage(UINT message, LRESULT (T::*fn)(WPARAM, LPARAM)) {
        T* self = static_cast<T*>(this);
        MapMessage(message, [self, fn](WPARAM w, LPARAM l) { return (self->*fn)(w, l); });
    }
    template <class T>
    void MapControlReflect(UINT code, void (T::*fn)()) {
        MapControlReflect(code, Bind(fn));
    }
    template <class T>
    void MapNotifyReflect(UINT code, void (T::*fn)(NMHDR*, LRESULT*)) {
        T* self = static_cast<T*>(this);
        MapNotifyReflect(code, [self, fn](NMHDR* h, LRESULT* r) { (self->*fn)(h, r); });
    }

    int m_nModalResult = -1;

private:
    template <class T>
    CommandHandler Bind(void (T::*fn)()) {
        T* self = static_cast<T*>(this);
        return [self, fn] { (self->*fn)(); };
    }
    struct Handlers;
    std::unique_ptr<Handlers> handlers_;
    bool continueModal_ = false;
    friend struct CWndAccess;
};

// What DoDataExchange sees: the direction and the window.
class CDataExchange {
public:
    CDataExchange(CWnd* window, BOOL saveAndValidate) : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(window) {}
    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
    // The control `id`; records it as the one to focus on a failure.
    HWND PrepareCtrl(int id);
    // Ends the exchange as failed: focuses the control last prepared.
    [[noreturn]] void Fail();

private:
    HWND last_ = nullptr;
};

// Attaches `control` to the dialog's control `id` the first time.
void DDX_Control(CDataExchange* dx, int id, CWnd& control);
void DDX_Text(CDataExchange* dx, int id, CString& value);
void DDX_Check(CDataExchange* dx, int id, int& value);
// The index of the checked button in the radio group starting at `id`, -1
// for none.
void DDX_Radio(CDataExchange* dx, int id, int& value);
void DDX_CBIndex(CDataExchange* dx, int id, int& index);

class CDialog : public CWnd {
public:
    CDialog() = default;
    explicit CDialog(UINT templateId, CWnd* parent = nullptr) : m_nIDHelp(templateId), m_pParentWnd(parent) {}

    // Runs the dialog from its template in the current resource module;
    // the result of EndDialog, or -1 when the dialog could not be created.
    virtual INT_PTR DoModal();
    // Creates the dialog modeless (again after each DestroyWindow).
    virtual BOOL Create(UINT templateId, CWnd* parent = nullptr);
    // Creates the dialog modeless from a template already found (for
    // instance in a plug-in's module).
    BOOL CreateIndirect(std::shared_ptr<const Platform::DialogTemplate> dialogTemplate, CWnd* parent = nullptr);
    // DoModal then runs this template instead of one of the resource module.
    void InitModalIndirect(std::shared_ptr<const Platform::DialogTemplate> dialogTemplate) {
        indirect_ = std::move(dialogTemplate);
    }
    void EndDialog(int result);
    virtual BOOL OnInitDialog();

    UINT GetTemplateId() const { return m_nIDHelp; }
    void SetDefID(UINT id);
    DWORD GetDefID() const;
    void GotoDlgCtrl(CWnd* control);
    void MapDialogRect(LPRECT rect) const;

    bool StartModal() override;
    INT_PTR FinishModal() override;

protected:
    virtual void OnOK();
    virtual void OnCancel();
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    // Makes the dialog's window from a template; shared by the modal and
    // modeless paths.
    BOOL CreateFromTemplate(std::shared_ptr<const Platform::DialogTemplate> dialogTemplate, HWND parent);

    UINT m_nIDHelp = 0;
    CWnd* m_pParentWnd = nullptr;

private:
    HWND disabledParent_ = nullptr;
    HWND focusBefore_ = nullptr;
    bool modal_ = false;
    std::shared_ptr<const Platform::DialogTemplate> indirect_;
};

class CButton : public CWnd {
public:
    int GetCheck() const;
    void SetCheck(int check);
    UINT GetButtonStyle() const;
    void SetButtonStyle(UINT style, BOOL redraw = TRUE);
};

class CEdit : public CWnd {
public:
    // Limits what the user can type, in UTF-16 units; 0 removes the limit.
    void SetLimitText(UINT limit);
    void LimitText(int limit = 0) { SetLimitText(static_cast<UINT>(limit)); }
    UINT GetLimitText() const;
    // `end` -1 selects to the end; `start` -1 removes the selection.
    void SetSel(int start, int end, BOOL noScroll = FALSE);
    void GetSel(int& start, int& end) const;
    void ReplaceSel(LPCWSTR text, BOOL canUndo = FALSE);
    void SetPasswordChar(char16_t c);
    char16_t GetPasswordChar() const;
    BOOL SetReadOnly(BOOL readOnly = TRUE);
};

class CStatic : public CWnd {};

// A drop-down list: its window text is the selected item's text.
class CComboBox : public CWnd {
public:
    int AddString(LPCWSTR text);
    int InsertString(int index, LPCWSTR text);
    int DeleteString(UINT index);
    void ResetContent();
    int GetCount() const;
    int GetCurSel() const;
    int SetCurSel(int index);
    DWORD_PTR GetItemData(int index) const;
    int SetItemData(int index, DWORD_PTR data);
    int GetLBText(int index, LPWSTR buffer) const;
    void GetLBText(int index, CString& text) const;
    int GetLBTextLen(int index) const;
    // Case-insensitive prefix search after `start` (-1: from the top),
    // wrapping round; CB_ERR when nothing matches.
    int FindString(int start, LPCWSTR prefix) const;
    int FindStringExact(int start, LPCWSTR text) const;
    // FindString, then selects the item found.
    int SelectString(int start, LPCWSTR prefix);
    BOOL GetDroppedState() const;
    void ShowDropDown(BOOL show = TRUE);
};
