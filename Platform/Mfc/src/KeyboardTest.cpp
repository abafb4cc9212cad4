#include "TestDialogs.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Mfc::PutClipboardText;
using MfcTest::DialogFixture;
using MfcTest::TestDialog;

// An edit that drops the key '7' before it is dispatched and logs what
// reaches it.
class FilteringEdit : public CEdit {
public:
    BOOL PreTranslateMessage(MSG* msg) override {
        if (msg->message == WM_KEYDOWN) controlAtKey.push_back(GetKeyState(VK_CONTROL) < 0);
        return msg->message == WM_KEYDOWN && msg->wParam == '7';
    }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_KEYDOWN) log += "D" + std::to_string(wParam) + " ";
        if (message == WM_CHAR) log += "C" + std::to_string(wParam) + " ";
        return CEdit::WindowProc(message, wParam, lParam);
    }
    std::string log;
    std::vector<bool> controlAtKey;
};

class Keyboard : public DialogFixture {
protected:
    ~Keyboard() override {
        if (OpenClipboard(nullptr)) {
            EmptyClipboard();
            CloseClipboard();
        }
    }
};

TEST_F(Keyboard, TypedKeysArePreTranslatedBeforeTheirCharacterIsMade) {
    TestDialog dialog(100);
    FilteringEdit edit;
    dialog.onInit = [&] { edit.SubclassDlgItem(10, &dialog); };
    auto s = driver.BeginModal(dialog);
    s.Type(10, u"a7.");
    EXPECT_EQ(s.Text(10), u"a.") << "the dropped key makes no character";
    EXPECT_EQ(edit.log, "D65 C97 D231 C46 ");
    EXPECT_EQ(edit.controlAtKey, (std::vector<bool>{false, false, false}));
    EXPECT_GE(GetKeyState(VK_CONTROL), 0);
}

TEST_F(Keyboard, CtrlVPastesOneLineOfTheClipboardWithinTheLimit) {
    TestDialog dialog(100);
    FilteringEdit edit;
    dialog.onInit = [&] {
        edit.SubclassDlgItem(10, &dialog);
        edit.LimitText(6);
    };
    auto s = driver.BeginModal(dialog);
    PutClipboardText(u"12345\r\nsecond line");
    s.Type(10, u"x\x16");
    EXPECT_EQ(s.Text(10), u"x12345");
    EXPECT_EQ(edit.controlAtKey, (std::vector<bool>{false, true, true})) << "Ctrl down, then V with Ctrl";
    EXPECT_GE(GetKeyState(VK_CONTROL), 0) << "Ctrl is let go after the chord";

    // Nothing fits any more: the edit refuses and the text stays.
    EXPECT_TRUE(Mfc::Input::Type(u"\x16"));
    EXPECT_EQ(s.Text(10), u"x12345");
    // The edit's own WM_PASTE takes the same path.
    s.Type(10, u"");
    edit.SendMessage(WM_PASTE);
    EXPECT_EQ(s.Text(10), u"12345");
}

TEST_F(Keyboard, TheClipboardBelongsToTheThreadThatOpenedIt) {
    PutClipboardText(u"abc");
    EXPECT_TRUE(IsClipboardFormatAvailable(CF_UNICODETEXT));
    EXPECT_FALSE(IsClipboardFormatAvailable(CF_TEXT));
    EXPECT_EQ(GetClipboardData(CF_UNICODETEXT), nullptr) << "closed: no data to read";
    ASSERT_TRUE(OpenClipboard(nullptr));
    BOOL otherOpened = TRUE;
    std::thread([&] { otherOpened = OpenClipboard(nullptr); }).join();
    EXPECT_FALSE(otherOpened);
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::u16string(static_cast<const char16_t*>(GlobalLock(data))), u"abc");
    GlobalUnlock(data);
    EXPECT_TRUE(EmptyClipboard());
    EXPECT_FALSE(IsClipboardFormatAvailable(CF_UNICODETEXT));
    EXPECT_TRUE(CloseClipboard());
    EXPECT_FALSE(CloseClipboard());
}

class LocaleLanguage : public ::testing::Test {
protected:
    LocaleLanguage() {
        for (const char* name : kNames) {
            if (const char* value = std::getenv(name)) saved_.emplace_back(name, value);
            ::unsetenv(name);
        }
    }
    ~LocaleLanguage() override {
        for (const char* name : kNames) ::unsetenv(name);
        for (const auto& [name, value] : saved_) ::setenv(name.c_str(), value.c_str(), 1);
    }
    static constexpr const char* kNames[] = {"VELMO_LANGID", "LC_ALL", "LC_MESSAGES", "LANG"};
    std::vector<std::pair<std::string, std::string>> saved_;
};

TEST_F(LocaleLanguage, ThePosixLocaleNamesTheLanguageAfterTheExplicitSetting) {
    EXPECT_EQ(GetUserDefaultLangID(), 0x0409);
    const struct {
        const char* lang;
        LANGID id;
    } cases[] = {{"de_DE.UTF-8", 0x0407}, {"de", 0x0407},         {"zh_TW.UTF-8", 0x0404}, {"zh_CN.UTF-8", 0x0804},
                 {"pt_BR", 0x0416},       {"pt_PT@euro", 0x0816}, {"C.UTF-8", 0x0409},     {"xx_YY", 0x0409}};
    for (const auto& c : cases) {
        ::setenv("LANG", c.lang, 1);
        EXPECT_EQ(GetUserDefaultLangID(), c.id) << c.lang;
    }
    ::setenv("LANG", "fr_FR.UTF-8", 1);
    ::setenv("LC_MESSAGES", "ja_JP.UTF-8", 1);
    EXPECT_EQ(GetUserDefaultLangID(), 0x0411) << "messages before the general setting";
    ::setenv("LC_ALL", "ru_RU.UTF-8", 1);
    EXPECT_EQ(GetUserDefaultLangID(), 0x0419);
    ::setenv("VELMO_LANGID", "0x0410", 1);
    EXPECT_EQ(GetUserDefaultLangID(), 0x0410);
    EXPECT_EQ(Mfc::LanguageOffset(GetUserDefaultLangID()), 6000);
}

}  // namespace
