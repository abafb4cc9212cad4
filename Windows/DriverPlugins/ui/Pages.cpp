#include "Pages.h"

#include <algorithm>
#include <cstring>

#include "Common/Headers/PrinterConfig.h"
#include "Common/Headers/RodizuzUzezProperties.h"
#include "Platform/Files.h"
#include "Platform/Version.h"
#include "StatusPage.h"
#include "Tessary/i8n/UTFConversion.h"

namespace Gorlith {

namespace {

std::u16string Widen(const char* text) {
    std::u16string wide;
    for (; *text != 0; ++text) wide += static_cast<unsigned char>(*text);
    return wide;
}

bool Exists(HWND dialog, int id) {
    return GetDlgItem(dialog, id) != nullptr;
}

void Show(HWND dialog, int id, bool visible) {
    if (HWND item = GetDlgItem(dialog, id)) ShowWindow(item, visible ? SW_SHOW : SW_HIDE);
}

bool DocumentSheet(const OEMUIPSPARAM& context) {
    return context.pOEMDM != nullptr;
}

}  // namespace

INT_PTR PropertyPage::DialogProc(HWND, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) return Initialise() ? TRUE : FALSE;
    return 0;
}

bool StatusPropertyPage::Initialise() {
    using namespace StatusControl;
    if (window == nullptr) return false;
    if (!Exists(window, kMediaText) || !Exists(window, kMediaBar) || !Exists(window, kPaperText)) {
        // Still show what the plug-in is, whatever else the template lacks.
        if (auto version = PluginFileVersion())
            if (auto format = strings_(StatusString::kPluginVersion))
                SetDlgItemTextW(window, kPluginVersion, FormatResource(*format, {*version}).c_str());
        return false;
    }
    std::optional<std::string> deviceId;
    PrinterConfig model;
    bool identified = false;
    if (context != nullptr) {
        RodizuzUzezProperties queue(context->hPrinter);
        char buffer[255] = {};
        if (queue.GetDeviceID(buffer, sizeof buffer) == 0) deviceId = buffer;
        identified = deviceId && queue.IdentifyPrinter(model);
    }
    const bool printerSheet = context != nullptr && !DocumentSheet(*context);
    const StatusPageContent page =
        ComputeStatusPage(deviceId, identified ? &model : nullptr, strings_, printerSheet, PluginFileVersion());
    for (const auto& [id, text] : page.texts) SetDlgItemTextW(window, id, text.c_str());
    for (int id : page.hidden) Show(window, id, false);
    for (int id : page.shown) Show(window, id, true);
    if (page.barRange) SendDlgItemMessageW(window, kMediaBar, PBM_SETRANGE, 0, MAKELPARAM(0, *page.barRange));
    if (page.barPosition) SendDlgItemMessageW(window, kMediaBar, PBM_SETPOS, static_cast<WPARAM>(*page.barPosition), 0);
    return page.ready;
}

bool ColourPropertyPage::Initialise() {
    if (context == nullptr || window == nullptr) return false;
    RodizuzUzezProperties queue(context->hPrinter);
    choices_ = BuildChoiceList(queue, strings_);
    if (choices_.empty()) return false;

    int current = 0;
    if (DocumentSheet(*context))
        current = PrivateDevMode::Read(static_cast<const BYTE*>(context->pOEMDM)).ccIndex;
    else if (queue.GetCCIndex(&current) != 0)
        current = 0;

    const int buttons = Buttons();
    for (int i = 0; i < buttons; ++i) {
        const int id = kFirstChoiceButton + i;
        Show(window, id, true);
        if (!SetDlgItemTextW(window, id, reinterpret_cast<LPCWSTR>(choices_[static_cast<std::size_t>(i)].label))) {
            choices_.clear();
            return false;
        }
    }

    DWORD testing = 0;
    developerMode_ = queue.ReadPrinterData(u"CC_DEV_TESTING", reinterpret_cast<BYTE*>(&testing), sizeof testing) == 0 &&
                     testing == 1;
    if (developerMode_) {
        Show(window, kLastChoiceButton, true);
        Show(window, kDeveloperFiles, true);
        SendDlgItemMessageW(window, kDeveloperFiles, CB_RESETCONTENT, 0, 0);
        WCHAR folder[260] = {};
        const UINT length = GetSystemDirectoryW(folder, 260);
        if (length > 0 && length < 260) {
            const std::u16string pattern = std::u16string(folder, length) + u"\\*.tli";
            WIN32_FIND_DATAW found{};
            HANDLE search = FindFirstFileW(pattern.c_str(), &found);
            if (search != INVALID_HANDLE_VALUE) {
                do {
                    SendDlgItemMessageW(window, kDeveloperFiles, CB_ADDSTRING, 0,
                                        reinterpret_cast<LPARAM>(found.cFileName));
                } while (FindNextFileW(search, &found));
                FindClose(search);
            }
        }
    }

    Check(current);
    return true;
}

int ColourPropertyPage::Buttons() const {
    return static_cast<int>(std::min<std::size_t>(choices_.size(), kLastChoiceButton - kFirstChoiceButton + 1));
}

void ColourPropertyPage::Check(int index) {
    const int check = index >= 0 && index < Buttons() ? kFirstChoiceButton + index : 0;
    CheckRadioButton(window, kFirstChoiceButton, kLastChoiceButton, check);
}

void ColourPropertyPage::Refresh() {
    if (context == nullptr || window == nullptr || choices_.empty() || !DocumentSheet(*context)) return;
    Check(PrivateDevMode::Read(static_cast<const BYTE*>(context->pOEMDM)).ccIndex);
}

bool ColourPropertyPage::Apply() {
    if (context == nullptr || window == nullptr || choices_.empty()) return true;
    int chosen = -1;
    for (int id = kFirstChoiceButton; id <= kLastChoiceButton; ++id)
        if (IsDlgButtonChecked(window, id) == BST_CHECKED) chosen = id - kFirstChoiceButton;
    if (chosen < 0) return true;

    if (DocumentSheet(*context)) {
        std::string developerFile;
        if (developerMode_ && chosen == kLastChoiceButton - kFirstChoiceButton) {
            const auto selected = SendDlgItemMessageW(window, kDeveloperFiles, CB_GETCURSEL, 0, 0);
            const auto units = selected < 0 ? CB_ERR
                                            : SendDlgItemMessageW(window, kDeveloperFiles, CB_GETLBTEXTLEN,
                                                                  static_cast<WPARAM>(selected), 0);
            if (units > 0) {
                std::u16string text(static_cast<std::size_t>(units) + 1, u'\0');
                SendDlgItemMessageW(window, kDeveloperFiles, CB_GETLBTEXT, static_cast<WPARAM>(selected),
                                    reinterpret_cast<LPARAM>(text.data()));
                text.resize(std::char_traits<char16_t>::length(text.c_str()));
                // File names go narrow in the machine's code page, UTF-8.
                developerFile = Tessary::UTF16ToUTF8String(text.c_str(), static_cast<int>(text.size()));
                // At most 255 bytes, never a cut character.
                if (developerFile.size() > 255) {
                    std::size_t cut = 255;
                    while (cut > 0 && (static_cast<unsigned char>(developerFile[cut]) & 0xC0) == 0x80) --cut;
                    developerFile.resize(cut);
                }
            }
        }
        auto* raw = static_cast<BYTE*>(context->pOEMDM);
        PrivateDevMode block = PrivateDevMode::Read(raw);
        ApplyToBlock(block, choices_, chosen, developerFile);
        block.Write(raw);
        return true;
    }
    RodizuzUzezProperties queue(context->hPrinter);
    ApplyToQueue(queue, chosen, [this] { return BuildChoiceList(context->pPrinterName, strings_); });
    return true;
}

bool PinPropertyPage::Initialise() {
    if (context == nullptr || window == nullptr) return false;
    SendDlgItemMessageW(window, kPinEdit, EM_LIMITTEXT, 4, 0);
    RodizuzUzezProperties queue(context->hPrinter);
    int sticky = 0;
    queue.GetPinSticky(&sticky);
    if (sticky == 1) {
        CheckDlgButton(window, kKeepPin, BST_CHECKED);
        unsigned pin = 0;
        queue.GetPinValue(&pin);
        if (pin != static_cast<unsigned>(-1))
            SetDlgItemTextW(window, kPinEdit, Widen(std::to_string(pin).c_str()).c_str());
    } else {
        CheckDlgButton(window, kKeepPin, BST_UNCHECKED);
    }
    return true;
}

bool PinPropertyPage::Apply() {
    if (context == nullptr || window == nullptr) return true;
    BOOL number = FALSE;
    UINT pin = GetDlgItemInt(window, kPinEdit, &number, FALSE);
    if (!number) pin = 0;
    if (DocumentSheet(*context)) {
        auto* raw = static_cast<BYTE*>(context->pOEMDM);
        PrivateDevMode block = PrivateDevMode::Read(raw);
        block.pin = pin;
        block.Write(raw);
    }
    HANDLE handle = nullptr;
    PRINTER_DEFAULTSW administer{nullptr, nullptr, PRINTER_ACCESS_ADMINISTER};
    if (context->pPrinterName == nullptr || !OpenPrinterW(context->pPrinterName, &handle, &administer)) return true;
    struct Closer {
        HANDLE handle;
        ~Closer() { ClosePrinter(handle); }
    } closer{handle};
    RodizuzUzezProperties queue(handle);
    const bool keep = IsDlgButtonChecked(window, kKeepPin) == BST_CHECKED;
    queue.SetPinSticky(keep ? 1 : 0);
    queue.SetPinValue(keep ? static_cast<int>(pin) : -1);
    return true;
}

INT_PTR PageDispatcher(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        if (message == WM_INITDIALOG) {
            const auto* sheetPage = reinterpret_cast<const PROPSHEETPAGEW*>(lParam);
            const auto* block = sheetPage != nullptr ? reinterpret_cast<const PageBlock*>(sheetPage->lParam) : nullptr;
            if (block != nullptr && block->page != nullptr) {
                block->page->window = dialog;
                SetPropW(dialog, kPageProperty, block->page);
            }
        } else if (message == WM_DESTROY) {
            if (auto* page = static_cast<PropertyPage*>(GetPropW(dialog, kPageProperty))) page->window = nullptr;
            RemovePropW(dialog, kPageProperty);
        }
        auto* page = static_cast<PropertyPage*>(GetPropW(dialog, kPageProperty));
        return page != nullptr ? page->DialogProc(dialog, message, wParam, lParam) : 0;
    } catch (...) {
        return 0;
    }
}

LONG PageBlockCallback(PCPSUICBPARAM param) {
    try {
        if (param == nullptr) return CPSUICB_ACTION_NONE;
        auto* block = reinterpret_cast<PageBlock*>(param->UserData);
        if (block == nullptr || block->page == nullptr) return CPSUICB_ACTION_NONE;
        switch (param->Reason) {
            case CPSUICB_REASON_APPLYNOW:
                block->page->Apply();
                if (block->function != nullptr)
                    block->function(block->sheetHandle, CPSFUNC_SET_RESULT, block->added, CPSUI_OK);
                return CPSUICB_ACTION_NONE;
            case CPSUICB_REASON_SETACTIVE:
                block->page->Refresh();
                block->page->Apply();
                block->item.Flags |= OPTIF_CHANGED;
                return CPSUICB_ACTION_OPTIF_CHANGED;
            case CPSUICB_REASON_KILLACTIVE:
                block->page->Apply();
                return CPSUICB_ACTION_OPTIF_CHANGED;
            default:
                return CPSUICB_ACTION_NONE;
        }
    } catch (...) {
        return CPSUICB_ACTION_NONE;
    }
}

std::optional<std::u16string> PluginFileVersion() {
    const char16_t* file = u"Gorlith.dll";
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file, &ignored);
    if (size == 0) return std::nullopt;
    std::vector<BYTE> info(size);
    if (!GetFileVersionInfoW(file, 0, size, info.data())) return std::nullopt;
    void* value = nullptr;
    UINT units = 0;
    if (!VerQueryValueW(info.data(), u"\\StringFileInfo\\040904B0\\FileVersion", &value, &units) || value == nullptr)
        return std::nullopt;
    const auto* text = static_cast<const char16_t*>(value);
    return std::u16string(text, std::char_traits<char16_t>::length(text));
}

}  // namespace Gorlith
