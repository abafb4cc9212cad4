// The terminal front end: shows the innermost dialog after every change and
// turns simple commands into the user input a person would give.
#include "Internal.h"

#include "Platform/InstanceChannel.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <utility>

namespace Mfc {

using namespace detail;

namespace {

constexpr const char* kHelp =
    "commands:\n"
    "  press <id|caption>        click a button\n"
    "  type <id> <text>          replace a control's text (\"\" clears it)\n"
    "  pick <id> <index|text>    choose a combo item or click a list row (any of\n"
    "                            its cells names it)\n"
    "  check <id> [on|off]       set a check box or radio button\n"
    "  answer <button|id>        answer the open message box (in a script, the\n"
    "                            box to come, at most 30 seconds)\n"
    "  wait <id> <text>          wait until the control, or a row of the list,\n"
    "                            shows the text (at most 30 seconds)\n"
    "  show                      draw the dialog again\n"
    "  quit                      cancel every dialog\n";

struct NamedButton {
    const char* name;
    int id;
};
constexpr NamedButton kButtons[] = {{"OK", IDOK},         {"Cancel", IDCANCEL}, {"Abort", IDABORT}, {"Retry", IDRETRY},
                                    {"Ignore", IDIGNORE}, {"Yes", IDYES},       {"No", IDNO},       {"Help", IDHELP}};

std::string ButtonName(int id) {
    for (const auto& b : kButtons)
        if (b.id == id) return b.name;
    return std::to_string(id);
}

bool EqualsNoCaseAscii(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::optional<int> Number(std::string_view text) {
    int value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc{} || ptr != end || text.empty()) return std::nullopt;
    return value;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

// A text argument: the rest of the line, its surrounding quotes removed so
// that spaces at either end and the empty text can be given.
std::string Unquote(std::string_view text) {
    text = Trim(text);
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
    return std::string(text);
}

// Splits off the first word.
std::pair<std::string_view, std::string_view> Word(std::string_view line) {
    line = Trim(line);
    const auto space = line.find_first_of(" \t");
    if (space == std::string_view::npos) return {line, {}};
    return {line.substr(0, space), Trim(line.substr(space))};
}

std::u16string WithoutAccelerator(std::u16string text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size()) ++i;
        out.push_back(text[i]);
    }
    return out;
}

void Collect(HWND parent, std::vector<WindowPtr>& found) {
    auto window = OwnWindow(parent);
    if (!window) return;
    for (const auto& child : Children(*window)) {
        if (child->kind != Kind::Dialog && child->kind != Kind::Header) found.push_back(child);
        if (child->kind == Kind::Dialog || child->kind == Kind::ListView) Collect(child->handle, found);
    }
}

bool HasCell(const ListRow& row, std::u16string_view text) {
    return std::find(row.cells.begin(), row.cells.end(), text) != row.cells.end();
}

// A command that cannot be carried out.
class CommandError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace

class TerminalFrontEnd::Impl : public ModalLoopHook, public WindowObserver {
public:
    Impl(std::istream& input, std::ostream& output, bool interactive)
        : input_(input), output_(output), interactive_(interactive) {
        previousHook_ = SetModalLoopHook(this);
        AddWindowObserver(this);
        previousHandler_ = SetMessageBoxHandler([this](const MessageBoxRequest& request) { return Answer(request); });
    }

    ~Impl() override {
        SetMessageBoxHandler(std::move(previousHandler_));
        RemoveWindowObserver(this);
        SetModalLoopHook(previousHook_);
    }

    bool Failed() const { return failed_; }

    // ----- WindowObserver
    void OnWindowCreated(HWND) override { dirty_ = true; }
    void OnWindowDestroyed(HWND) override { dirty_ = true; }
    void OnWindowChanged(HWND, WindowChange) override { dirty_ = true; }
    void OnModalLoop(HWND, bool) override { dirty_ = true; }
    void OnBeep(UINT) override { ++beeps_; }

    // ----- ModalLoopHook
    bool OnModalIdle(HWND window, int) override {
        if (ended_) {
            CancelAll();
            return true;
        }
        if (dirty_) {
            dirty_ = false;
            prompted_ = false;
            output_ << RenderWindow(window) << std::flush;
        }
        if (wait_ && !WaitGoesOn(window)) return true;
        if (answer_ && !AnswerGoesOn()) return true;
        if (!InputReady()) return true;  // the loop pumps what came meanwhile, then asks again
        std::string line;
        if (!NextLine(line)) {
            if (!interactive_) Fail("the script ended while \"" + Caption(window) + "\" was open");
            ended_ = true;
            CancelAll();
            return true;
        }
        try {
            Run(window, line);
        } catch (const CommandError& error) {
            Complain(error.what());
        }
        return true;
    }

private:
    std::string Caption(HWND window) const {
        auto record = OwnWindow(window);
        return record ? ToUtf8(record->text) : std::string();
    }

    // A person at the terminal may take their time: while nothing was typed
    // the dialog's timers and posted messages go on.
    bool InputReady() {
        if (!interactive_ || &input_ != &std::cin) return true;
        if (!prompted_) {
            output_ << "> " << std::flush;
            prompted_ = true;
        }
        if (input_.rdbuf()->in_avail() > 0) return true;
        pollfd ready{STDIN_FILENO, POLLIN, 0};
        return ::poll(&ready, 1, 100) != 0;
    }

    bool NextLine(std::string& line) {
        while (true) {
            if (interactive_ && !prompted_) output_ << "> " << std::flush;
            prompted_ = false;
            if (!std::getline(input_, line)) return false;
            ++lineNumber_;
            const auto text = Trim(line);
            if (text.empty() || text.front() == '#') continue;
            if (!interactive_) output_ << "> " << text << "\n";
            line = std::string(text);
            return true;
        }
    }

    void Complain(const std::string& what) {
        if (interactive_) {
            output_ << "error: " << what << "\n" << std::flush;
            return;
        }
        Fail(what);
        ended_ = true;
        CancelAll();
    }

    void Fail(const std::string& what) {
        failed_ = true;
        output_ << "script line " << lineNumber_ << ": " << what << "\n" << std::flush;
    }

    void CancelAll() {
        for (HWND window : ModalWindows()) AbortModalLoop(window, IDCANCEL);
    }

    // The control a command names: by id, or for press also by caption.
    // Of several with that id, one that takes the command and that the user
    // can reach comes first; a command the control cannot take is refused
    // with the reason, as a person would see it.
    HWND Find(HWND dialog, std::string_view which, std::optional<UserAction> action) {
        std::vector<WindowPtr> found;
        Collect(dialog, found);
        const auto id = Number(which);
        const bool byCaption = action == UserAction::Press;
        std::vector<WindowPtr> matches;
        for (const auto& w : found) {
            if (id ? w->id == static_cast<UINT>(static_cast<WORD>(*id))
                   : byCaption &&
                         CompareNoCase(WithoutAccelerator(w->text), WithoutAccelerator(FromUtf8(Unquote(which)))) == 0)
                matches.push_back(w);
        }
        if (matches.empty())
            throw CommandError("the dialog has no control " +
                               (id ? std::to_string(*id) : "\"" + Unquote(which) + "\""));
        auto rank = [&](const WindowPtr& w) {
            const bool fits = !action || WhyUnfit(*w, *action).empty();
            return (fits ? 4 : 0) + (IsWindowReachable(w->handle) ? 2 : 0) + (IsWindowVisible(w->handle) ? 1 : 0);
        };
        const auto best = std::max_element(matches.begin(), matches.end(),
                                           [&](const auto& a, const auto& b) { return rank(a) < rank(b); });
        const HWND control = (*best)->handle;
        if (action) {
            if (const auto why = WhyUnfit(**best, *action); !why.empty())
                throw CommandError(DescribeWindow(control) + " " + why);
        }
        if (const auto why = WhyUnreachable(control); !why.empty())
            throw CommandError(DescribeWindow(control) + " " + why);
        return control;
    }

    // True once the awaited text shows; meanwhile the loop runs what other
    // threads post.
    bool WaitGoesOn(HWND dialog) {
        std::vector<WindowPtr> found;
        Collect(dialog, found);
        for (const auto& w : found) {
            if (w->id != static_cast<UINT>(static_cast<WORD>(wait_->id))) continue;
            bool shows = w->text == wait_->text;
            for (const auto& row : w->rows) shows = shows || HasCell(row, wait_->text);
            if (shows) {
                wait_.reset();
                return true;
            }
        }
        if (std::chrono::steady_clock::now() >= wait_->deadline) {
            const std::string what =
                "control " + std::to_string(wait_->id) + " did not show \"" + ToUtf8(wait_->text) + "\" in time";
            wait_.reset();
            Complain(what);
            return false;
        }
        WaitForPostedMessage(50);
        return false;
    }

    // False while the held answer waits for its box; meanwhile the loop runs
    // what other threads post.
    bool AnswerGoesOn() {
        if (std::chrono::steady_clock::now() >= answer_->deadline) {
            answer_.reset();
            Complain("no message box opened in time");
            return false;
        }
        WaitForPostedMessage(50);
        return false;
    }

    void Run(HWND dialog, std::string_view line) {
        const auto [command, rest] = Word(line);
        if (EqualsNoCaseAscii(command, "help")) {
            output_ << kHelp << std::flush;
        } else if (EqualsNoCaseAscii(command, "show")) {
            output_ << RenderWindow(dialog) << std::flush;
        } else if (EqualsNoCaseAscii(command, "quit")) {
            ended_ = true;
            CancelAll();
        } else if (EqualsNoCaseAscii(command, "press")) {
            if (rest.empty()) throw CommandError("press what? press <id|caption>");
            Input::Click(Find(dialog, rest, UserAction::Press));
        } else if (EqualsNoCaseAscii(command, "type")) {
            const auto [which, text] = Word(rest);
            if (!Number(which)) throw CommandError("type <id> <text>: the id is a number");
            const HWND control = Find(dialog, which, UserAction::Type);
            Input::Focus(control);
            const auto typed = FromUtf8(Unquote(text));
            const int beepsBefore = beeps_;
            // Typing nothing over the selected text is clearing it.
            if (!Input::Type(typed.empty() ? std::u16string_view(u"\b") : std::u16string_view(typed)))
                throw CommandError("the focus left " + DescribeWindow(control) + " while typing");
            if (const int refused = beeps_ - beepsBefore; refused > 0)
                throw CommandError(DescribeWindow(control) + " refused " + std::to_string(refused) +
                                   (refused == 1 ? " key" : " keys") + " of \"" + Unquote(text) + "\"");
        } else if (EqualsNoCaseAscii(command, "pick")) {
            const auto [which, item] = Word(rest);
            if (!Number(which)) throw CommandError("pick <id> <index|text>: the id is a number");
            if (item.empty()) throw CommandError("pick <id> <index|text>: which item?");
            Pick(Find(dialog, which, UserAction::Pick), Unquote(item));
        } else if (EqualsNoCaseAscii(command, "check")) {
            const auto [which, state] = Word(rest);
            if (!Number(which)) throw CommandError("check <id> [on|off]: the id is a number");
            bool on = true;
            if (EqualsNoCaseAscii(state, "off"))
                on = false;
            else if (!state.empty() && !EqualsNoCaseAscii(state, "on"))
                throw CommandError("check <id> [on|off]: \"" + std::string(state) + "\" is neither");
            const HWND control = Find(dialog, which, UserAction::Check);
            const bool checked = SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
            if (checked == on) return;
            if (!on && IsRadio(*OwnWindow(control)))
                throw CommandError(DescribeWindow(control) + " is a radio button: check another of its group");
            Input::Click(control);
            if (IsWindow(control) && (SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED) != on)
                throw CommandError(DescribeWindow(control) + " stayed " + (on ? "unchecked" : "checked"));
        } else if (EqualsNoCaseAscii(command, "wait")) {
            const auto [which, text] = Word(rest);
            const auto id = Number(which);
            if (!id) throw CommandError("wait <id> <text>: the id is a number");
            if (text.empty()) throw CommandError("wait <id> <text>: which text?");
            Find(dialog, which, std::nullopt);
            wait_ = Wait{*id, FromUtf8(Unquote(text)), std::chrono::steady_clock::now() + std::chrono::seconds(30)};
        } else if (EqualsNoCaseAscii(command, "answer")) {
            // A script cannot see the box coming, as a person would: it holds
            // the answer for the box the dialog's work opens.
            if (interactive_) throw CommandError("no message box is open");
            answer_ = HeldAnswer{std::string(rest), std::chrono::steady_clock::now() + std::chrono::seconds(30)};
        } else {
            throw CommandError("unknown command \"" + std::string(command) + "\" (help lists them)");
        }
    }

    void Pick(HWND control, const std::string& item) {
        auto record = OwnWindow(control);
        const auto index = Number(item);
        if (record->kind == Kind::ComboBox) {
            const int count = static_cast<int>(SendMessageW(control, CB_GETCOUNT, 0, 0));
            int chosen = index.value_or(-1);
            if (!index) {
                const auto text = FromUtf8(item);
                chosen = static_cast<int>(SendMessageW(control, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                                       reinterpret_cast<LPARAM>(text.c_str())));
                if (chosen < 0) throw CommandError(DescribeWindow(control) + " has no item \"" + item + "\"");
            }
            if (chosen < 0 || chosen >= count) throw CommandError(DescribeWindow(control) + " has no item " + item + Counted(count, "item"));
            if (!Input::ChooseComboItem(control, chosen))
                throw CommandError(DescribeWindow(control) + " did not take item " + item);
            return;
        }
        const auto count = static_cast<int>(SendMessageW(control, LVM_GETITEMCOUNT, 0, 0));
        int row = index.value_or(-1);
        if (!index) {
            // A row is named by any of its cells, as a person reads it.
            const auto text = FromUtf8(item);
            for (int i = 0; i < count && static_cast<std::size_t>(i) < record->rows.size() && row < 0; ++i)
                if (HasCell(record->rows[static_cast<std::size_t>(i)], text)) row = i;
            if (row < 0) throw CommandError(DescribeWindow(control) + " has no row showing \"" + item + "\"");
        }
        if (row < 0 || row >= count) throw CommandError(DescribeWindow(control) + " has no row " + item + Counted(count, "row"));
        // Scrolled into view first, as the user would.
        SendMessageW(control, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
        RECT r{};
        SendMessageW(control, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
        Input::ClickAt(control, POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
    }

    static std::string Counted(int count, const std::string& what) {
        if (count == 0) return " (it has none)";
        return " (it has " + std::to_string(count) + " " + what + (count == 1 ? "" : "s") + ", counted from 0)";
    }

    int Answer(const MessageBoxRequest& request) {
        const auto buttons = MessageBoxButtons(request.type);
        const int cancel = buttons.back();
        if (ended_) return cancel;
        auto show = [&] {
            output_ << "[" << ToUtf8(request.caption) << "] " << ToUtf8(request.text) << "\n  answer with:";
            for (int id : buttons) output_ << " " << ButtonName(id);
            output_ << "\n" << std::flush;
        };
        show();
        auto chosen = [&](std::string_view name) -> std::optional<int> {
            std::optional<int> answer = Number(name);
            for (const auto& b : kButtons)
                if (EqualsNoCaseAscii(name, b.name)) answer = b.id;
            if (answer && std::find(buttons.begin(), buttons.end(), *answer) != buttons.end()) {
                dirty_ = true;
                return answer;
            }
            Complain("the message box has no button \"" + std::string(name) + "\"");
            return std::nullopt;
        };
        if (answer_) {
            const std::string held = std::exchange(answer_, std::nullopt)->button;
            return chosen(held).value_or(cancel);
        }
        std::string line;
        while (NextLine(line)) {
            const auto [command, rest] = Word(line);
            if (EqualsNoCaseAscii(command, "answer")) {
                if (const auto answer = chosen(rest)) return *answer;
            } else if (EqualsNoCaseAscii(command, "show")) {
                show();
                continue;
            } else if (EqualsNoCaseAscii(command, "quit")) {
                ended_ = true;
                CancelAll();
            } else {
                Complain("a message box is open: answer it first");
            }
            if (ended_) return cancel;
        }
        if (!interactive_) Fail("the script ended while a message box was open");
        ended_ = true;
        CancelAll();
        return cancel;
    }

    struct Wait {
        int id;
        std::u16string text;
        std::chrono::steady_clock::time_point deadline;
    };
    std::optional<Wait> wait_;
    struct HeldAnswer {
        std::string button;
        std::chrono::steady_clock::time_point deadline;
    };
    std::optional<HeldAnswer> answer_;
    std::istream& input_;
    std::ostream& output_;
    const bool interactive_;
    ModalLoopHook* previousHook_ = nullptr;
    MessageBoxHandler previousHandler_;
    bool dirty_ = true;
    bool prompted_ = false;  // "> " is on show for the next command
    bool ended_ = false;
    bool failed_ = false;
    int lineNumber_ = 0;
    int beeps_ = 0;  // keys the controls refused
};

TerminalFrontEnd::TerminalFrontEnd(std::istream& input, std::ostream& output, bool interactive)
    : impl_(std::make_unique<Impl>(input, output, interactive)) {}

TerminalFrontEnd::~TerminalFrontEnd() = default;

bool TerminalFrontEnd::Failed() const {
    return impl_->Failed();
}

namespace detail {
namespace {

// The front end a program started by itself, with the script it reads.
struct StartedFrontEnd {
    std::ifstream script;
    std::unique_ptr<TerminalFrontEnd> frontEnd;

    ~StartedFrontEnd() {
        // An unattended run that went wrong must say so to whoever started it.
        if (frontEnd && frontEnd->Failed()) {
            std::cout.flush();
            Platform::RemoveInstanceChannel();
            std::_Exit(2);
        }
    }
};

}  // namespace

void StartTerminalFrontEndIfWanted() {
    thread_local bool tried = false;
    thread_local StartedFrontEnd started;
    if (tried) return;
    tried = true;
    const char* script = std::getenv("VELMO_UI_SCRIPT");
    const bool named = script != nullptr && *script != '\0' && std::string_view(script) != "-";
    if (named) {
        started.script.open(script);
        if (!started.script) {
            std::cerr << "cannot read the script " << script << "\n";
            std::exit(2);
        }
        started.frontEnd = std::make_unique<TerminalFrontEnd>(started.script, std::cout, false);
        return;
    }
    // Without a script named, a person at the terminal gives the commands;
    // anything else on standard input is a script, so that nothing waits
    // for input that never comes.
    const bool person = (script == nullptr || *script == '\0') && isatty(STDIN_FILENO) != 0;
    started.frontEnd = std::make_unique<TerminalFrontEnd>(std::cin, std::cout, person);
}

}  // namespace detail

}  // namespace Mfc
