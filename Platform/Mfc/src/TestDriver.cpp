// The test driver: user actions on dialogs, scripted modal dialogs and
// message boxes, the clock, and failures instead of hangs.
#include "Mfc/TestDriver.h"

#include "Internal.h"

#include <algorithm>

namespace Mfc {
namespace {

using namespace detail;

constexpr int kPumpLimit = 100000;

void Collect(HWND parent, UINT id, std::vector<HWND>& found) {
    auto window = OwnWindow(parent);
    if (!window) return;
    for (const auto& child : Children(*window)) {
        if (child->id == id && child->kind != Kind::Dialog && child->kind != Kind::Header)
            found.push_back(child->handle);
        if (child->kind == Kind::Dialog || child->kind == Kind::ListView) Collect(child->handle, id, found);
    }
}

int CancelAnswer(UINT type) {
    const auto buttons = MessageBoxButtons(type);
    for (int id : {IDCANCEL, IDNO, IDABORT}) {
        if (std::find(buttons.begin(), buttons.end(), id) != buttons.end()) return id;
    }
    return buttons.front();
}

std::string Utf8(const std::u16string& text) {
    return ToUtf8(text);
}

}  // namespace

// ----- ModalSession

ModalSession::ModalSession(TestDriver& driver, HWND window, CWnd* object, bool owned)
    : driver_(&driver), window_(window), object_(object), owned_(owned) {}

ModalSession::ModalSession(ModalSession&& other) noexcept
    : driver_(other.driver_),
      window_(other.window_),
      object_(other.object_),
      owned_(std::exchange(other.owned_, false)),
      result_(other.result_) {}

ModalSession::~ModalSession() {
    if (owned_ && !result_ && object_ != nullptr) {
        object_->EndModalLoop(-1);
        Finish();
    }
}

bool ModalSession::IsOpen() const {
    if (result_) return false;
    return ::IsWindow(window_) && object_ != nullptr && object_->ContinueModal();
}

void ModalSession::Finish() {
    if (result_ || object_ == nullptr) return;
    result_ = object_->FinishModal();
}

void ModalSession::AfterAction() {
    driver_->PumpUntilIdle();
    if (owned_ && !result_ && (!::IsWindow(window_) || !object_->ContinueModal())) Finish();
}

HWND ModalSession::Control(int id) const {
    std::vector<HWND> found;
    Collect(window_, static_cast<UINT>(static_cast<WORD>(id)), found);
    for (HWND h : found) {
        if (::IsWindowVisible(h)) return h;
    }
    return found.empty() ? nullptr : found.front();
}

HWND ModalSession::Need(int id, const char* action) {
    if (!IsOpen()) {
        driver_->Fail(std::string(action) + " " + std::to_string(id) + ": the dialog is no longer open");
        return nullptr;
    }
    HWND control = Control(id);
    if (control == nullptr) {
        driver_->Fail(std::string(action) + ": the dialog has no control " + std::to_string(id) + "\n" + Render());
        return nullptr;
    }
    if (!IsWindowReachable(control)) {
        driver_->Fail(std::string(action) + ": " + DescribeWindow(control) +
                      " is out of the user's reach (hidden or disabled, or inside a window that is)\n" + Render());
        return nullptr;
    }
    return control;
}

void ModalSession::Click(int id) {
    if (HWND control = Need(id, "Click")) {
        Input::Click(control);
        AfterAction();
    }
}

void ModalSession::Check(int id, bool checked) {
    HWND control = Need(id, "Check");
    if (control == nullptr) return;
    if (const auto why = WhyUnfit(*OwnWindow(control), UserAction::Check); !why.empty()) {
        driver_->Fail("Check: " + DescribeWindow(control) + " " + why);
        return;
    }
    const bool now = ::SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
    if (now == checked) return;
    if (!checked && IsRadio(*OwnWindow(control))) {
        driver_->Fail("Check: a radio button cannot be cleared by clicking it: " + DescribeWindow(control));
        return;
    }
    Input::Click(control);
    AfterAction();
}

void ModalSession::Type(int id, std::u16string_view text) {
    HWND control = Need(id, "Type");
    if (control == nullptr) return;
    if (const auto why = WhyUnfit(*OwnWindow(control), UserAction::Type); !why.empty()) {
        driver_->Fail("Type: " + DescribeWindow(control) + " " + why);
        return;
    }
    Input::Focus(control);
    // Typing nothing over the selected text is clearing it.
    if (!Input::Type(text.empty() ? std::u16string_view(u"\b") : text))
        driver_->Fail("Type: the focus left " + DescribeWindow(control) + " while typing");
    AfterAction();
}

void ModalSession::SelectCombo(int id, int index) {
    HWND control = Need(id, "SelectCombo");
    if (control == nullptr) return;
    if (!Input::ChooseComboItem(control, index)) {
        driver_->Fail("SelectCombo: " + DescribeWindow(control) + " has no item " + std::to_string(index));
        return;
    }
    AfterAction();
}

void ModalSession::SelectComboText(int id, std::u16string_view text) {
    HWND control = Need(id, "SelectComboText");
    if (control == nullptr) return;
    const auto index = ::SendMessageW(control, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                      reinterpret_cast<LPARAM>(std::u16string(text).c_str()));
    if (index == CB_ERR) {
        driver_->Fail("SelectComboText: " + DescribeWindow(control) + " has no item \"" + Utf8(std::u16string(text)) +
                      "\"");
        return;
    }
    SelectCombo(id, static_cast<int>(index));
}

void ModalSession::ClickRow(int id, int row) {
    HWND control = Need(id, "ClickRow");
    if (control == nullptr) return;
    const auto count = ::SendMessageW(control, LVM_GETITEMCOUNT, 0, 0);
    if (row < 0 || row >= count) {
        driver_->Fail("ClickRow: " + DescribeWindow(control) + " has no row " + std::to_string(row));
        return;
    }
    // Scrolled into view first, as the user would.
    ::SendMessageW(control, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
    RECT r{};
    ::SendMessageW(control, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
    Input::ClickAt(control, POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
    AfterAction();
}

void ModalSession::DoubleClickRow(int id, int row) {
    HWND control = Need(id, "DoubleClickRow");
    if (control == nullptr) return;
    const auto count = ::SendMessageW(control, LVM_GETITEMCOUNT, 0, 0);
    if (row < 0 || row >= count) {
        driver_->Fail("DoubleClickRow: " + DescribeWindow(control) + " has no row " + std::to_string(row));
        return;
    }
    ::SendMessageW(control, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
    RECT r{};
    ::SendMessageW(control, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
    Input::DoubleClickAt(control, POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
    AfterAction();
}

void ModalSession::ClickListEmpty(int id) {
    HWND control = Need(id, "ClickListEmpty");
    if (control == nullptr) return;
    RECT client{};
    ::GetClientRect(control, &client);
    const auto count = static_cast<int>(::SendMessageW(control, LVM_GETITEMCOUNT, 0, 0));
    const auto top = static_cast<int>(::SendMessageW(control, LVM_GETTOPINDEX, 0, 0));
    const int y = CListCtrl::kHeaderHeight + (count - top) * CListCtrl::kRowHeight + CListCtrl::kRowHeight / 2;
    if (y >= client.bottom) {
        driver_->Fail("ClickListEmpty: " + DescribeWindow(control) + " has no empty space below its rows");
        return;
    }
    Input::ClickAt(control, POINT{client.right / 2, y});
    AfterAction();
}

void ModalSession::PressEnter() {
    if (!IsOpen()) {
        driver_->Fail("PressEnter: the dialog is no longer open");
        return;
    }
    HWND focus = ::GetFocus();
    if (focus == nullptr || (focus != window_ && !::IsChild(window_, focus))) ::SetFocus(window_);
    if (!Input::Key(VK_RETURN)) driver_->Fail("PressEnter: the dialog takes no input\n" + Render());
    AfterAction();
}

void ModalSession::PressEscape() {
    if (!IsOpen()) {
        driver_->Fail("PressEscape: the dialog is no longer open");
        return;
    }
    HWND focus = ::GetFocus();
    if (focus == nullptr || (focus != window_ && !::IsChild(window_, focus))) ::SetFocus(window_);
    if (!Input::Key(VK_ESCAPE)) driver_->Fail("PressEscape: the dialog takes no input\n" + Render());
    AfterAction();
}

void ModalSession::Close() {
    if (!IsOpen() || !Input::Close(window_)) {
        driver_->Fail("Close: the dialog cannot be closed now\n" + Render());
        return;
    }
    AfterAction();
}

CString ModalSession::Caption() const {
    CString text;
    if (CWnd* w = CWnd::FromHandle(window_)) w->GetWindowText(text);
    return text;
}

CString ModalSession::Text(int id) const {
    CString text;
    if (HWND control = Control(id)) CWnd::FromHandle(control)->GetWindowText(text);
    return text;
}

bool ModalSession::Exists(int id) const {
    return Control(id) != nullptr;
}

bool ModalSession::Visible(int id) const {
    HWND control = Control(id);
    return control != nullptr && ::IsWindowVisible(control);
}

bool ModalSession::Enabled(int id) const {
    HWND control = Control(id);
    return control != nullptr && ::IsWindowEnabled(control);
}

bool ModalSession::Checked(int id) const {
    HWND control = Control(id);
    return control != nullptr && ::SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool ModalSession::Focused(int id) const {
    HWND control = Control(id);
    return control != nullptr && ::GetFocus() == control;
}

std::pair<int, int> ModalSession::Selection(int id) const {
    DWORD start = 0, end = 0;
    if (HWND control = Control(id)) {
        ::SendMessageW(control, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    }
    return {static_cast<int>(start), static_cast<int>(end)};
}

int ModalSession::ComboIndex(int id) const {
    HWND control = Control(id);
    return control ? static_cast<int>(::SendMessageW(control, CB_GETCURSEL, 0, 0)) : CB_ERR;
}

std::vector<CString> ModalSession::ComboItems(int id) const {
    std::vector<CString> items;
    HWND control = Control(id);
    if (control == nullptr) return items;
    auto* combo = static_cast<CComboBox*>(CWnd::FromHandle(control));
    for (int i = 0; i < combo->GetCount(); ++i) {
        CString text;
        combo->GetLBText(i, text);
        items.push_back(text);
    }
    return items;
}

std::vector<std::vector<CString>> ModalSession::Rows(int id) const {
    std::vector<std::vector<CString>> rows;
    HWND control = Control(id);
    if (control == nullptr) return rows;
    auto* list = static_cast<CListCtrl*>(CWnd::FromHandle(control));
    const int columns = std::max(list->GetHeaderCtrl()->GetItemCount(), 1);
    for (int r = 0; r < list->GetItemCount(); ++r) {
        std::vector<CString> cells;
        for (int c = 0; c < columns; ++c) cells.push_back(list->GetItemText(r, c));
        rows.push_back(std::move(cells));
    }
    return rows;
}

int ModalSession::SelectedRow(int id) const {
    HWND control = Control(id);
    return control ? static_cast<int>(::SendMessageW(control, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED))
                   : -1;
}

std::string ModalSession::Render() const {
    return RenderWindow(window_);
}

void ModalSession::PumpUntilIdle() {
    AfterAction();
}

bool ModalSession::PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds realCap) {
    const bool met = driver_->PumpUntil(condition, realCap);
    AfterAction();
    return met;
}

void ModalSession::Advance(Platform::Milliseconds duration) {
    driver_->Advance(duration);
    AfterAction();
}

// ----- TestDriver

TestDriver::TestDriver(FailureReporter reporter, std::shared_ptr<Platform::ManualClock> clock)
    : reporter_(std::move(reporter)), clock_(std::move(clock)) {
    if (!clock_) {
        clock_ = std::make_shared<Platform::ManualClock>(false);
        Platform::SetClock(clock_);
        ownsClock_ = true;
    }
    previousHook_ = SetModalLoopHook(this);
    previousHandler_ = SetMessageBoxHandler([this](const MessageBoxRequest& request) { return Answer(request); });
    previousReporter_ = SetExceptionReporter(
        [this](const std::string& what) { Fail("an exception was stopped at a window's border: " + what); });
}

TestDriver::~TestDriver() {
    SetExceptionReporter(std::move(previousReporter_));
    SetMessageBoxHandler(std::move(previousHandler_));
    SetModalLoopHook(previousHook_);
    if (ownsClock_) Platform::SetClock(nullptr);
}

ModalSession TestDriver::BeginModal(CWnd& dialog) {
    if (!dialog.StartModal()) Fail("BeginModal: the dialog could not be created (is its template in the module?)");
    ModalSession session(*this, dialog.m_hWnd, &dialog, true);
    session.AfterAction();
    return session;
}

void TestDriver::OnNextModal(std::function<void(ModalSession&)> script) {
    scripts_.push_back(std::move(script));
}

void TestDriver::AnswerNextMessageBox(int answer) {
    answers_.push_back([answer](const MessageBoxRequest&) { return answer; });
}

void TestDriver::ExpectMessageBox(std::u16string text, int answer) {
    answers_.push_back([this, text = std::move(text), answer](const MessageBoxRequest& request) {
        if (request.text != text) {
            Fail("expected the message box \"" + Utf8(text) + "\", got \"" + Utf8(request.text) + "\"");
        }
        return answer;
    });
}

void TestDriver::OnNextMessageBox(std::function<int(const MessageBoxRequest&)> answer) {
    answers_.push_back(std::move(answer));
}

int TestDriver::Answer(const MessageBoxRequest& request) {
    const std::string shown = "[" + Utf8(request.caption) + "] " + Utf8(request.text);
    int answer;
    if (answers_.empty()) {
        Fail("a message box appeared with no answer scripted: " + shown);
        answer = CancelAnswer(request.type);
    } else {
        auto next = std::move(answers_.front());
        answers_.pop_front();
        answer = next(request);
        const auto buttons = MessageBoxButtons(request.type);
        if (std::find(buttons.begin(), buttons.end(), answer) == buttons.end()) {
            Fail("answered " + std::to_string(answer) + " to a message box without that button: " + shown);
        }
    }
    boxes_.push_back(MessageBoxRecord{request, answer});
    return answer;
}

void TestDriver::PumpUntilIdle() {
    int pumped = 0;
    while (PumpMessage()) {
        if (++pumped > kPumpLimit) {
            Fail("messages keep coming: more than " + std::to_string(kPumpLimit) + " without becoming idle");
            return;
        }
    }
}

bool TestDriver::PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds realCap) {
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        PumpUntilIdle();
        if (condition()) return true;
        if (std::chrono::steady_clock::now() - start > realCap) {
            std::string message = "condition not met within " + std::to_string(realCap.count()) + " ms of real time";
            if (HWND active = ActiveDialog()) message += "\n" + RenderWindow(active);
            Fail(message);
            return false;
        }
        WaitForPostedMessage(2);
    }
}

void TestDriver::Advance(Platform::Milliseconds duration) {
    const auto target = clock_->Now() + duration;
    PumpUntilIdle();
    for (int steps = 0; steps < kPumpLimit; ++steps) {
        Platform::Milliseconds due{};
        if (!NextTimerDue(due) || due > target) break;
        const auto now = clock_->Now();
        if (due > now) clock_->Advance(due - now);
        PumpUntilIdle();
    }
    const auto now = clock_->Now();
    if (target > now) clock_->Advance(target - now);
    PumpUntilIdle();
}

HWND TestDriver::ActiveDialog() const {
    const auto modal = ModalWindows();
    return modal.empty() ? nullptr : modal.back();
}

void TestDriver::Fail(const std::string& message) {
    failures_.push_back(message);
    if (reporter_) reporter_(message);
}

bool TestDriver::OnModalIdle(HWND window, int idleTurn) {
    if (idleTurn == 0 && !scripts_.empty()) {
        auto script = std::move(scripts_.front());
        scripts_.pop_front();
        ModalSession session(*this, window, CWnd::FromHandlePermanent(window), false);
        try {
            script(session);
        } catch (const std::exception& e) {
            Fail(std::string("a modal script threw: ") + e.what());
        }
        return true;
    }
    Fail(std::string("a modal dialog is waiting for input and ") +
         (idleTurn == 0 ? "nothing is scripted for it" : "its script has finished") + ":\n" + RenderWindow(window));
    AbortModalLoop(window, -1);
    return true;
}

}  // namespace Mfc
