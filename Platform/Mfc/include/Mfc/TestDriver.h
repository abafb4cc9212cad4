// Drives dialogs as a user does and reads what a user sees, on the thread
// that owns them (the test's). It never hangs: a modal loop that waits with
// nothing scripted, a message box with no answer, an action on a control
// out of the user's reach or an exception stopped at a window's border is
// reported as a failure (with a rendering of the dialog) and the waiting
// dialog is ended.
//
//     Mfc::TestDriver driver(Mfc::GTestFailures());   // Mfc/GTestDriver.h
//     CSettingsDialog dialog;
//     auto s = driver.BeginModal(dialog);            // window open, OnInitDialog done
//     s.Type(1001, u"Office");
//     driver.AnswerNextMessageBox(IDOK);
//     s.Click(IDOK);
//     EXPECT_TRUE(s.IsOpen());
//
// Dialogs that the code opens itself (DoModal inside a click) are driven by
// scripts queued beforehand, taken in the order the dialogs open:
//
//     driver.OnNextModal([](Mfc::ModalSession& inner) { inner.Click(IDCANCEL); });
//
// BeginModal runs under the thread's current module state: a library's
// dialog whose DoModal switches to the library's state is best run through
// DoModal with a script, or under AFX_MANAGE_STATE of that state.
#pragma once

#include "Mfc/Layer.h"

#include "Platform/Clock.h"

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Mfc {

class TestDriver;

// One modal dialog (or property sheet) as the user sees it. Controls are
// found by id in the dialog and in the panes inside it, visible ones first.
class ModalSession {
public:
    ModalSession(ModalSession&& other) noexcept;
    ModalSession& operator=(ModalSession&&) = delete;
    ModalSession(const ModalSession&) = delete;
    // A session started with BeginModal that is still open is closed here
    // (result -1).
    ~ModalSession();

    HWND Window() const { return window_; }
    bool IsOpen() const;
    // DoModal's result, once a session started with BeginModal has closed.
    std::optional<INT_PTR> Result() const { return result_; }

    // Actions. Each pumps until idle afterwards.
    void Click(int id);
    // Clicks a check box or radio button unless it already has that state.
    void Check(int id, bool checked = true);
    // Tabs into the control (an edit selects its whole text) and types;
    // typing nothing clears the selected text.
    void Type(int id, std::u16string_view text);
    void SelectCombo(int id, int index);
    void SelectComboText(int id, std::u16string_view text);
    void ClickRow(int id, int row);
    // Double-clicks a row (its first click selects it).
    void DoubleClickRow(int id, int row);
    // Clicks the list below its last row.
    void ClickListEmpty(int id);
    void PressEnter();
    void PressEscape();
    // The close box.
    void Close();

    // What the user sees.
    CString Caption() const;
    CString Text(int id) const;
    bool Exists(int id) const;
    bool Visible(int id) const;
    bool Enabled(int id) const;
    bool Checked(int id) const;
    bool Focused(int id) const;
    // An edit's selection, start and end.
    std::pair<int, int> Selection(int id) const;
    int ComboIndex(int id) const;
    std::vector<CString> ComboItems(int id) const;
    std::vector<std::vector<CString>> Rows(int id) const;
    int SelectedRow(int id) const;
    std::string Render() const;
    // The control, or null.
    HWND Control(int id) const;

    void PumpUntilIdle();
    bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds realCap = std::chrono::seconds(5));
    void Advance(Platform::Milliseconds duration);

private:
    friend class TestDriver;
    ModalSession(TestDriver& driver, HWND window, CWnd* object, bool owned);
    HWND Need(int id, const char* action);
    void AfterAction();
    void Finish();

    TestDriver* driver_;
    HWND window_;
    CWnd* object_;
    bool owned_;
    std::optional<INT_PTR> result_;
};

struct MessageBoxRecord {
    MessageBoxRequest request;
    int answer = 0;
};

class TestDriver : private ModalLoopHook {
public:
    using FailureReporter = std::function<void(const std::string& message)>;

    // Installs itself on the calling thread: message-box handler, modal
    // loop hook, exception reporter, and (unless one is given) a manual
    // clock that moves only when Advance is called. Failures go to
    // `reporter` and are kept (Failures()).
    explicit TestDriver(FailureReporter reporter = {}, std::shared_ptr<Platform::ManualClock> clock = nullptr);
    ~TestDriver() override;
    TestDriver(const TestDriver&) = delete;
    TestDriver& operator=(const TestDriver&) = delete;

    // Starts a dialog or property sheet modally without running its loop:
    // its window is open and initialised when this returns.
    ModalSession BeginModal(CWnd& dialog);
    // The script for the next modal dialog that the code opens itself.
    void OnNextModal(std::function<void(ModalSession&)> script);

    void AnswerNextMessageBox(int answer);
    // Fails when the next box's text is not `text`.
    void ExpectMessageBox(std::u16string text, int answer);
    void OnNextMessageBox(std::function<int(const MessageBoxRequest&)> answer);
    const std::vector<MessageBoxRecord>& MessageBoxes() const { return boxes_; }

    // Moves the clock on, firing every timer that falls due on the way, in
    // order, as a responsive message loop would.
    void Advance(Platform::Milliseconds duration);
    void PumpUntilIdle();
    // Pumps until the condition holds, waiting in real time (for worker
    // threads) up to `realCap`; a failure after that.
    bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds realCap = std::chrono::seconds(5));
    std::shared_ptr<Platform::ManualClock> Clock() const { return clock_; }

    // The innermost modal window, else null.
    HWND ActiveDialog() const;
    const std::vector<std::string>& Failures() const { return failures_; }
    void Fail(const std::string& message);
    bool Unanswered() const { return !answers_.empty() || !scripts_.empty(); }

private:
    bool OnModalIdle(HWND window, int idleTurn) override;
    int Answer(const MessageBoxRequest& request);

    FailureReporter reporter_;
    std::shared_ptr<Platform::ManualClock> clock_;
    bool ownsClock_ = false;
    std::deque<std::function<void(ModalSession&)>> scripts_;
    std::deque<std::function<int(const MessageBoxRequest&)>> answers_;
    std::vector<MessageBoxRecord> boxes_;
    std::vector<std::string> failures_;
    ModalLoopHook* previousHook_ = nullptr;
    MessageBoxHandler previousHandler_;
    ExceptionReporter previousReporter_;
};

}  // namespace Mfc
