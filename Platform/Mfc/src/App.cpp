// Module states, application objects, message boxes, the wait cursor, the
// user's language and the reporting of exceptions stopped at a window.
#include "Internal.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace Mfc::detail;

namespace {

thread_local AFX_MODULE_STATE* t_moduleState = nullptr;

std::mutex g_handlerMutex;
Mfc::MessageBoxHandler g_messageBoxHandler;
Mfc::ExceptionReporter g_exceptionReporter;

std::atomic<int> g_waitCursor{0};
std::atomic<LANGID> g_language{0};

constexpr UINT kAppTitleId = 57344;

}  // namespace

AFX_MODULE_STATE::AFX_MODULE_STATE() : program_(true) {}

AFX_MODULE_STATE::AFX_MODULE_STATE(const char16_t* moduleName, Platform::ResourceTable resources)
    : name_(moduleName ? moduleName : u""), program_(false) {
    registration_ = Platform::RegisterResourceModule(name_, std::move(resources));
}

AFX_MODULE_STATE::~AFX_MODULE_STATE() {
    if (loaded_ != nullptr) FreeLibrary(loaded_);
}

Platform::ResourceSlot* AFX_MODULE_STATE::Slot() {
    if (program_) return nullptr;
    // Found at first use rather than while the library is still being
    // loaded: a library loaded by name is then already in the module table.
    std::call_once(resolved_, [this] {
        HMODULE module = GetModuleHandleW(name_.c_str());
        if (module == nullptr) module = loaded_ = LoadLibraryW(name_.c_str());
        instance_ = module;
        slot_.Set(module);
    });
    return &slot_;
}

HINSTANCE AFX_MODULE_STATE::InstanceHandle() {
    if (program_) return Platform::MainModuleHandle();
    Slot();
    return instance_;
}

HINSTANCE AFX_MODULE_STATE::ResourceHandle() {
    return program_ ? Platform::ProgramResourceSlot().Get() : Slot()->Get();
}

AFX_MODULE_STATE* AfxGetAppModuleState() {
    // Never destroyed: library code may run during exit.
    static auto* state = new AFX_MODULE_STATE();
    return state;
}

AFX_MODULE_STATE* AfxGetModuleState() {
    return t_moduleState != nullptr ? t_moduleState : AfxGetAppModuleState();
}

AFX_MODULE_STATE* AfxSetModuleState(AFX_MODULE_STATE* state) {
    AFX_MODULE_STATE* previous = AfxGetModuleState();
    if (state == AfxGetAppModuleState()) state = nullptr;
    t_moduleState = state;
    Platform::SwapThreadResourceSlot(state != nullptr ? state->Slot() : nullptr);
    return previous;
}

CWinApp::CWinApp(const char16_t* appName, AFX_MODULE_STATE* state)
    : state_(state != nullptr ? state : AfxGetAppModuleState()) {
    state_->m_pCurrentWinApp = this;
    if (appName != nullptr) {
        name_ = appName;
        m_pszAppName = name_;
    }
}

CWinApp::~CWinApp() {
    if (state_->m_pCurrentWinApp == this) state_->m_pCurrentWinApp = nullptr;
}

int CWinApp::Run() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0)) {
        if (!TranslateInput(msg)) DispatchMessageW(&msg);
        if (State().modal.empty()) State().retired.clear();
    }
    return ExitInstance();
}

void CWinApp::BeginWaitCursor() {
    AdjustWaitCursor(+1);
}

void CWinApp::EndWaitCursor() {
    AdjustWaitCursor(-1);
}

CWinApp* AfxGetApp() {
    return AfxGetModuleState()->m_pCurrentWinApp;
}

CWnd* AfxGetMainWnd() {
    CWinApp* app = AfxGetApp();
    return app != nullptr ? app->m_pMainWnd : nullptr;
}

LPCWSTR AfxGetAppName() {
    AFX_MODULE_STATE* state = AfxGetModuleState();
    CWinApp* app = state->m_pCurrentWinApp;
    if (app != nullptr && app->m_pszAppName != nullptr) return app->m_pszAppName;
    // The application title of the module, else its name.
    static thread_local std::u16string name;
    char16_t buffer[256];
    if (LoadStringW(state->ResourceHandle(), kAppTitleId, buffer, 256) > 0) {
        name = buffer;
    } else if (!state->ModuleName().empty()) {
        name = state->ModuleName();
        if (name.size() > 4 && CompareNoCase(std::u16string_view(name).substr(name.size() - 4), u".dll") == 0) {
            name.resize(name.size() - 4);
        }
    } else {
        char16_t path[1024];
        const DWORD n = GetModuleFileNameW(nullptr, path, 1024);
        name.assign(path, n);
        const auto slash = name.find_last_of(u"/\\");
        if (slash != std::u16string::npos) name.erase(0, slash + 1);
    }
    return name.c_str();
}

HINSTANCE AfxGetInstanceHandle() {
    return AfxGetModuleState()->InstanceHandle();
}

int AfxWinMain(int argc, char** argv) {
    CWinApp* app = AfxGetApp();
    if (app == nullptr) return -1;
    app->m_arguments.clear();
    for (int i = 0; i < argc; ++i) app->m_arguments.emplace_back(argv[i]);
    if (!app->InitInstance()) return app->ExitInstance();
    return app->Run();
}

CWaitCursor::CWaitCursor() {
    AdjustWaitCursor(+1);
}

CWaitCursor::~CWaitCursor() {
    AdjustWaitCursor(-1);
}

// ----- Message boxes

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    Mfc::MessageBoxRequest request;
    request.owner = owner;
    request.text = text ? text : u"";
    request.caption = caption ? caption : u"Error";
    request.type = type;
    Mfc::MessageBoxHandler handler;
    {
        std::lock_guard lock(g_handlerMutex);
        handler = g_messageBoxHandler;
    }
    if (!handler) {
        std::fprintf(stderr, "[%s] %s\n", ToUtf8(request.caption).c_str(), ToUtf8(request.text).c_str());
        return Mfc::DefaultMessageBoxButton(type);
    }
    // The owner takes no input while the box is up.
    const HWND top = owner != nullptr ? TopLevel(owner) : nullptr;
    const bool disable = top != nullptr && OwnWindow(top) && IsWindowEnabled(top);
    const HWND focus = GetFocus();
    if (disable) EnableWindow(top, FALSE);
    int answer = IDCANCEL;
    try {
        answer = handler(request);
    } catch (const std::exception& e) {
        ReportException(e.what());
    } catch (...) {
        ReportException("an exception that is not a std::exception");
    }
    if (disable && IsWindow(top)) EnableWindow(top, TRUE);
    if (focus != nullptr && IsWindow(focus)) SetFocus(focus);
    return answer;
}

int AfxMessageBox(LPCWSTR text, UINT type, UINT) {
    CWnd* main = AfxGetMainWnd();
    HWND owner = main != nullptr ? main->m_hWnd : nullptr;
    const auto modal = Mfc::ModalWindows();
    if (!modal.empty()) owner = modal.back();
    return MessageBoxW(owner, text, AfxGetAppName(), type);
}

int AfxMessageBox(UINT promptId, UINT type, UINT helpId) {
    CString text;
    text.LoadString(promptId);
    return AfxMessageBox(text, type, helpId);
}

BOOL MessageBeep(UINT type) {
    NotifyBeep(type);
    return TRUE;
}

// ----- Language

LANGID GetUserDefaultLangID() {
    if (const LANGID set = g_language.load(); set != 0) return set;
    if (const char* env = std::getenv("VELMO_LANGID"); env != nullptr && *env != 0) {
        char* end = nullptr;
        const unsigned long value = std::strtoul(env, &end, 0);
        if (end != nullptr && *end == 0 && value > 0 && value <= 0xFFFF) return static_cast<LANGID>(value);
    }
    return Mfc::detail::LocaleLanguage();
}

namespace Mfc::detail {

// The language of the user's POSIX locale (LC_ALL, LC_MESSAGES, then LANG,
// as the C library chooses): "de_DE.UTF-8" gives German (Germany); a
// language without a region takes its first sublanguage.
LANGID LocaleLanguage() {
    const char* locale = nullptr;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != 0) {
            locale = value;
            break;
        }
    }
    constexpr LANGID kEnglish = MAKELANGID(0x09, 0x01);
    if (locale == nullptr) return kEnglish;
    const std::string text(locale);
    const std::string language = text.substr(0, text.find_first_of("_.@"));
    std::string region;
    if (const auto underscore = text.find('_'); underscore != std::string::npos) {
        region = text.substr(underscore + 1, text.find_first_of(".@", underscore) - underscore - 1);
    }
    struct Known {
        const char* language;
        const char* region;  // null: any region
        LANGID id;
    };
    static constexpr Known kKnown[] = {
        {"zh", "TW", 0x0404},    {"zh", "HK", 0x0C04},    {"zh", "SG", 0x1004},    {"zh", nullptr, 0x0804},
        {"cs", nullptr, 0x0405}, {"fr", nullptr, 0x040C}, {"de", nullptr, 0x0407}, {"it", nullptr, 0x0410},
        {"ja", nullptr, 0x0411}, {"ko", nullptr, 0x0412}, {"pl", nullptr, 0x0415}, {"pt", "PT", 0x0816},
        {"pt", nullptr, 0x0416}, {"ru", nullptr, 0x0419}, {"es", nullptr, 0x0C0A}, {"tr", nullptr, 0x041F},
        {"en", "GB", 0x0809},    {"en", nullptr, 0x0409}, {"nl", nullptr, 0x0413}, {"sv", nullptr, 0x041D},
    };
    for (const Known& k : kKnown) {
        if (language == k.language && (k.region == nullptr || region == k.region)) return k.id;
    }
    return kEnglish;
}

}  // namespace Mfc::detail

namespace Mfc::detail {

void AdjustWaitCursor(int delta) {
    // Unbalanced ends are ignored rather than driving the count negative.
    int current = g_waitCursor.load();
    while (current + delta >= 0 && !g_waitCursor.compare_exchange_weak(current, current + delta)) {
    }
}

void ReportException(const std::string& what) {
    Mfc::ExceptionReporter reporter;
    {
        std::lock_guard lock(g_handlerMutex);
        reporter = g_exceptionReporter;
    }
    if (reporter) {
        reporter(what);
    } else {
        std::fprintf(stderr, "exception stopped at a window's border: %s\n", what.c_str());
    }
}

}  // namespace Mfc::detail

namespace Mfc {

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    std::lock_guard lock(g_handlerMutex);
    return std::exchange(g_messageBoxHandler, std::move(handler));
}

ExceptionReporter SetExceptionReporter(ExceptionReporter reporter) {
    std::lock_guard lock(g_handlerMutex);
    return std::exchange(g_exceptionReporter, std::move(reporter));
}

std::vector<int> MessageBoxButtons(UINT type) {
    switch (type & MB_TYPEMASK) {
        case MB_OKCANCEL:
            return {IDOK, IDCANCEL};
        case MB_ABORTRETRYIGNORE:
            return {IDABORT, IDRETRY, IDIGNORE};
        case MB_YESNOCANCEL:
            return {IDYES, IDNO, IDCANCEL};
        case MB_YESNO:
            return {IDYES, IDNO};
        case MB_RETRYCANCEL:
            return {IDRETRY, IDCANCEL};
        default:
            return {IDOK};
    }
}

int DefaultMessageBoxButton(UINT type) {
    const auto buttons = MessageBoxButtons(type);
    const std::size_t index = (type & MB_DEFMASK) >> 8;
    return index < buttons.size() ? buttons[index] : buttons.front();
}

int WaitCursorDepth() {
    return g_waitCursor.load();
}

void SetUserDefaultLangID(LANGID language) {
    g_language.store(language);
}

int LanguageOffset(LANGID language, int step) {
    switch (PRIMARYLANGID(language)) {
        case 0x04:
            return (SUBLANGID(language) == 1 ? 1 : 2) * step;
        case 0x05:
            return 3 * step;
        case 0x0C:
            return 4 * step;
        case 0x07:
            return 5 * step;
        case 0x10:
            return 6 * step;
        case 0x11:
            return 7 * step;
        case 0x12:
            return 8 * step;
        case 0x15:
            return 9 * step;
        case 0x16:
            return 10 * step;
        case 0x19:
            return 11 * step;
        case 0x0A:
            return 12 * step;
        case 0x1F:
            return 13 * step;
        default:
            return 0;
    }
}

CString LoadLocalizedString(UINT englishId, int offset) {
    CString text;
    if (offset != 0 && text.LoadString(englishId + static_cast<UINT>(offset))) return text;
    text.LoadString(englishId);
    return text;
}

UINT LocalizedDialogId(UINT englishId, int offset) {
    const UINT localized = englishId + static_cast<UINT>(offset);
    if (offset != 0 && Platform::FindDialogTemplate(AfxGetResourceHandle(), localized)) return localized;
    return englishId;
}

}  // namespace Mfc
