// Dialogs run by a raw dialog procedure, as property pages of a plug-in
// are, and the controls such pages drive by id.
#include "Mfc/Layer.h"
#include "Mfc/WinUser.h"

#include "Platform/Resource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr char kPages[] = R"rc(
DIALOG 600 200 120 "Colour" CHILD
    RADIOBUTTON 603 "" 5 5 90 10 GROUP
    RADIOBUTTON 604 "" 5 17 90 10
    RADIOBUTTON 605 "" 5 29 90 10
    RADIOBUTTON 606 "" 5 41 90 10
    RADIOBUTTON 607 "" 5 53 90 10
    RADIOBUTTON 608 "" 5 65 90 10
    COMBOBOX 609 "" 100 5 90 60
    EDITTEXT 1014 "" 100 30 40 12
    CHECKBOX 1015 "Keep" 100 45 60 10
END
DIALOG 602 200 60 "Status" CHILD
    LTEXT 652 "media" 5 5 150 8
    PROGRESS 651 "" 5 20 124 10
END
)rc";

struct Seen {
    std::vector<UINT> messages;
    LPARAM init = 0;
    bool destroyInInit = false;
    INT_PTR initResult = TRUE;
};

Seen* g_seen = nullptr;

INT_PTR PageProcedure(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
    g_seen->messages.push_back(message);
    if (message == WM_INITDIALOG) {
        g_seen->init = lParam;
        SetPropW(dialog, u"WndObjectNamePointer", reinterpret_cast<HANDLE>(lParam));
        if (g_seen->destroyInInit) DestroyWindow(dialog);
        return g_seen->initResult;
    }
    if (message == WM_DESTROY) RemovePropW(dialog, u"WndObjectNamePointer");
    return 0;
}

class RawDialogs : public ::testing::Test {
protected:
    RawDialogs()
        : registration_(
              Platform::RegisterResourceModule(u"MfcTestPages.dll", Platform::ParseResourceText(kPages, "pages"))),
          module_(LoadLibraryW(u"MfcTestPages.dll")),
          sheet_(CreateWindowExW(0, u"Sheet", u"Properties", WS_POPUP | WS_VISIBLE, 0, 0, 400, 300, nullptr, nullptr,
                                 nullptr, nullptr)) {
        g_seen = &seen_;
    }
    ~RawDialogs() override {
        for (HWND page : pages_) DestroyWindow(page);
        DestroyWindow(sheet_);
        FreeLibrary(module_);
        g_seen = nullptr;
    }

    // As a plug-in does: the template through the resource calls.
    HWND Page(WORD id, LPARAM init = 0) {
        HRSRC found = FindResourceW(module_, MAKEINTRESOURCEW(id), RT_DIALOG);
        if (found == nullptr) return nullptr;
        auto t = static_cast<LPCDLGTEMPLATEW>(LockResource(LoadResource(module_, found)));
        HWND page = CreateDialogIndirectParamW(module_, t, sheet_, &PageProcedure, init);
        if (page == nullptr) return nullptr;
        pages_.push_back(page);
        ShowWindow(page, SW_SHOW);  // as the sheet shows its current page
        return page;
    }

    Platform::ResourceRegistration registration_;
    HMODULE module_;
    HWND sheet_;
    Seen seen_;
    std::vector<HWND> pages_;
};

TEST_F(RawDialogs, ProcedureSeesInitWithItsParameterAndKeepsPropsUntilDestroyed) {
    EXPECT_EQ(FindResourceW(module_, MAKEINTRESOURCEW(601), RT_DIALOG), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);

    int context = 0;
    HWND page = Page(600, reinterpret_cast<LPARAM>(&context));
    ASSERT_NE(page, nullptr);
    ASSERT_FALSE(seen_.messages.empty());
    EXPECT_EQ(seen_.messages.front(), WM_INITDIALOG) << "the procedure sees nothing before WM_INITDIALOG";
    EXPECT_EQ(seen_.init, reinterpret_cast<LPARAM>(&context));
    EXPECT_NE(GetDlgItem(page, 609), nullptr) << "the controls exist at WM_INITDIALOG";

    EXPECT_EQ(GetPropW(page, u"wndobjectnamepointer"), &context) << "names compare without regard to case";
    EXPECT_EQ(GetPropW(page, u"Other"), nullptr);
    EXPECT_TRUE(SetPropW(page, u"Other", &seen_));
    EXPECT_EQ(RemovePropW(page, u"OTHER"), &seen_);
    EXPECT_EQ(RemovePropW(page, u"Other"), nullptr) << "removed once";

    // Messages the procedure leaves go to the dialog manager.
    EXPECT_TRUE(SetWindowTextW(page, u"Renamed"));
    WCHAR text[16];
    GetWindowTextW(page, text, 16);
    EXPECT_EQ(std::u16string(text), u"Renamed");

    EXPECT_TRUE(DestroyWindow(page));
    pages_.clear();
    EXPECT_NE(std::find(seen_.messages.begin(), seen_.messages.end(), WM_DESTROY), seen_.messages.end());
    EXPECT_EQ(GetPropW(page, u"WndObjectNamePointer"), nullptr);
    EXPECT_FALSE(SetPropW(page, u"Other", &seen_)) << "no window";

    seen_.destroyInInit = true;
    EXPECT_EQ(Page(600), nullptr) << "a page that ends itself at once is not made";
    EXPECT_EQ(CreateDialogParamW(module_, MAKEINTRESOURCEW(777), nullptr, &PageProcedure, 0), nullptr);
}

TEST_F(RawDialogs, RadioButtonsInARangeCheckOneOrNone) {
    HWND page = Page(600);
    ASSERT_NE(page, nullptr);
    EXPECT_TRUE(CheckRadioButton(page, 603, 608, 605));
    for (int id = 603; id <= 608; ++id) EXPECT_EQ(IsDlgButtonChecked(page, id), id == 605 ? BST_CHECKED : 0u) << id;
    // An index past the last button: the range ends up with none checked.
    EXPECT_TRUE(CheckRadioButton(page, 603, 608, 603 + 6));
    for (int id = 603; id <= 608; ++id) EXPECT_EQ(IsDlgButtonChecked(page, id), 0u) << id;
    EXPECT_EQ(IsDlgButtonChecked(page, 610), 0u) << "no such control";
    // Buttons outside the range keep their state.
    CheckDlgButton(page, 1015, BST_CHECKED);
    CheckRadioButton(page, 603, 608, 604);
    EXPECT_EQ(IsDlgButtonChecked(page, 1015), BST_CHECKED);
    EXPECT_TRUE(Mfc::Input::Click(GetDlgItem(page, 1015)));
    EXPECT_EQ(IsDlgButtonChecked(page, 1015), 0u) << "a user's click toggles the check box";
}

TEST_F(RawDialogs, ComboAndNumberFieldAnswerByMessage) {
    HWND page = Page(600);
    ASSERT_NE(page, nullptr);
    SendDlgItemMessageW(page, 609, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"old.tli"));
    SendDlgItemMessageW(page, 609, CB_RESETCONTENT, 0, 0);
    for (const char16_t* name : {u"natural.tli", u"vivid.tli"})
        SendDlgItemMessageW(page, 609, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    EXPECT_EQ(SendDlgItemMessageW(page, 609, CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(SendDlgItemMessageW(page, 609, CB_GETCURSEL, 0, 0), CB_ERR) << "nothing chosen yet";
    ASSERT_TRUE(Mfc::Input::ChooseComboItem(GetDlgItem(page, 609), 1));
    const auto chosen = SendDlgItemMessageW(page, 609, CB_GETCURSEL, 0, 0);
    ASSERT_EQ(chosen, 1);
    WCHAR text[32] = {};
    SendDlgItemMessageW(page, 609, CB_GETLBTEXT, static_cast<WPARAM>(chosen), reinterpret_cast<LPARAM>(text));
    EXPECT_EQ(std::u16string(text), u"vivid.tli");

    SendDlgItemMessageW(page, 1014, EM_LIMITTEXT, 4, 0);
    ASSERT_TRUE(Mfc::Input::Focus(GetDlgItem(page, 1014)));
    ASSERT_TRUE(Mfc::Input::Type(u"123456"));
    BOOL translated = FALSE;
    EXPECT_EQ(GetDlgItemInt(page, 1014, &translated, FALSE), 1234u) << "the user cannot type past the limit";
    EXPECT_TRUE(translated);

    struct Case {
        const char16_t* text;
        BOOL isSigned;
        UINT value;
        BOOL ok;
    };
    for (const Case& c :
         {Case{u"  42", FALSE, 42, TRUE}, Case{u"-7", TRUE, static_cast<UINT>(-7), TRUE}, Case{u"-7", FALSE, 0, FALSE},
          Case{u"12a", FALSE, 0, FALSE}, Case{u"", FALSE, 0, FALSE}, Case{u"4294967295", FALSE, 4294967295u, TRUE},
          Case{u"4294967296", FALSE, 0, FALSE}, Case{u"2147483648", TRUE, 0, FALSE}}) {
        SetDlgItemTextW(page, 1014, c.text);
        translated = 2;
        EXPECT_EQ(GetDlgItemInt(page, 1014, &translated, c.isSigned), c.value) << Mfc::Utf8(c.text);
        EXPECT_EQ(translated, c.ok) << Mfc::Utf8(c.text);
    }
    translated = TRUE;
    EXPECT_EQ(GetDlgItemInt(page, 999, &translated, FALSE), 0u);
    EXPECT_FALSE(translated) << "no such control";
}

TEST_F(RawDialogs, ProgressBarKeepsItsPositionInRangeAndShowsIt) {
    HWND page = Page(602);
    ASSERT_NE(page, nullptr);
    const LRESULT before = SendDlgItemMessageW(page, 651, PBM_SETRANGE, 0, MAKELPARAM(0, 10));
    EXPECT_EQ(before, MAKELPARAM(0, 100)) << "the previous range, 0 to 100 at first";
    EXPECT_EQ(SendDlgItemMessageW(page, 651, PBM_SETPOS, 7, 0), 0);
    EXPECT_EQ(SendDlgItemMessageW(page, 651, PBM_GETPOS, 0, 0), 7);

    const std::string shown = Mfc::RenderWindow(page);
    EXPECT_NE(shown.find("651 progress \"\" at 7 of 10"), std::string::npos) << shown;
    // The bar: filled cells in proportion to 7 of 10.
    const auto open = shown.find("[#");
    ASSERT_NE(open, std::string::npos) << shown;
    const auto close = shown.find(']', open);
    const std::string bar = shown.substr(open + 1, close - open - 1);
    const auto filled = std::count(bar.begin(), bar.end(), '#');
    EXPECT_EQ(filled, static_cast<long>(bar.size() * 7 / 10)) << bar;
    EXPECT_EQ(filled + std::count(bar.begin(), bar.end(), '.'), static_cast<long>(bar.size())) << bar;

    EXPECT_EQ(SendDlgItemMessageW(page, 651, PBM_SETPOS, 25, 0), 7);
    EXPECT_EQ(SendDlgItemMessageW(page, 651, PBM_GETPOS, 0, 0), 10) << "held at the top of the range";
    SendDlgItemMessageW(page, 651, PBM_SETRANGE, 0, MAKELPARAM(2, 5));
    EXPECT_EQ(SendDlgItemMessageW(page, 651, PBM_GETPOS, 0, 0), 5) << "a narrower range pulls the position in";
    EXPECT_NE(Mfc::RenderWindow(page).find("at 5 in 2-5"), std::string::npos);
}

}  // namespace
