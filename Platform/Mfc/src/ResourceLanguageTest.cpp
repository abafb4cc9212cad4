#include "TestDialogs.h"

#include <cstdlib>

namespace {

constexpr char kLibraryResources[] = R"rc(
STRING 57344 "Library Title"
STRING 10095 "Rename Profile"
STRING 15095 "Profil umbenennen"
STRING 10096 "New Name :"
DIALOG 12106 100 40 "English"
    DEFPUSHBUTTON 1 "OK" 10 10 50 14
END
DIALOG 17106 100 40 "Deutsch"
    DEFPUSHBUTTON 1 "OK" 10 10 50 14
END
DIALOG 12107 100 40 "Only English"
    DEFPUSHBUTTON 1 "OK" 10 10 50 14
END
)rc";

class Language : public ::testing::Test {
protected:
    void TearDown() override {
        Mfc::SetUserDefaultLangID(0);
        ::unsetenv("VELMO_LANGID");
    }
    AFX_MODULE_STATE library{u"MfcLanguageLibrary.dll", Platform::ParseResourceText(kLibraryResources, "library")};
};

TEST_F(Language, OffsetsFollowThePrimaryLanguageAndTheStep) {
    const struct {
        LANGID language;
        int offset;
    } cases[] = {
        {0x0409, 0},     {0x0809, 0},     {0x0404, 1000},  {0x0804, 2000},  {0x1004, 2000},
        {0x0405, 3000},  {0x040C, 4000},  {0x0C0C, 4000},  {0x0407, 5000},  {0x0410, 6000},
        {0x0411, 7000},  {0x0412, 8000},  {0x0415, 9000},  {0x0416, 10000}, {0x0816, 10000},
        {0x0419, 11000}, {0x0C0A, 12000}, {0x041F, 13000}, {0x0413, 0},     {0x0000, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Mfc::LanguageOffset(c.language), c.offset) << std::hex << c.language;
        EXPECT_EQ(Mfc::LanguageOffset(c.language, 100), c.offset / 10) << std::hex << c.language;
    }
}

TEST_F(Language, TheUsersLanguageComesFromTheSetterThenTheEnvironment) {
    EXPECT_EQ(GetUserDefaultLangID(), 0x0409);
    ::setenv("VELMO_LANGID", "0x040C", 1);
    EXPECT_EQ(GetUserDefaultLangID(), 0x040C);
    ::setenv("VELMO_LANGID", "1031", 1);
    EXPECT_EQ(GetUserDefaultLangID(), 0x0407);
    ::setenv("VELMO_LANGID", "french", 1);
    EXPECT_EQ(GetUserDefaultLangID(), 0x0409) << "an unreadable setting means English";
    Mfc::SetUserDefaultLangID(0x0411);
    EXPECT_EQ(GetUserDefaultLangID(), 0x0411);
}

TEST_F(Language, LocalisedTextsAndTemplatesFallBackToEnglish) {
    AFX_MANAGE_STATE(&library);
    EXPECT_EQ(Mfc::LoadLocalizedString(10095, 5000), u"Profil umbenennen");
    EXPECT_EQ(Mfc::LoadLocalizedString(10096, 5000), u"New Name :");
    EXPECT_EQ(Mfc::LoadLocalizedString(10095, 0), u"Rename Profile");
    EXPECT_EQ(Mfc::LoadLocalizedString(10097, 5000), u"");
    EXPECT_EQ(Mfc::LocalizedDialogId(12106, 5000), 17106u);
    EXPECT_EQ(Mfc::LocalizedDialogId(12107, 5000), 12107u);
    EXPECT_EQ(Mfc::LocalizedDialogId(12106, 1000), 12106u);
}

TEST_F(Language, ALibrarysStateBringsItsResourcesAndName) {
    Platform::ResourceTable own;
    own.strings[10095] = u"the program's";
    auto registration = Platform::RegisterMainResources(own);
    Mfc::TestDriver driver{Mfc::GTestFailures()};
    CString text;
    text.LoadString(10095);
    EXPECT_EQ(text, u"the program's");
    CDialog outside(12106);
    EXPECT_EQ(outside.DoModal(), -1) << "the template is the library's";
    {
        AFX_MANAGE_STATE(&library);
        text.LoadString(10095);
        EXPECT_EQ(text, u"Rename Profile");
        EXPECT_EQ(std::u16string(AfxGetAppName()), u"Library Title");
        EXPECT_EQ(AfxGetResourceHandle(), GetModuleHandleW(u"MfcLanguageLibrary.dll"));
        {
            AFX_MANAGE_STATE(AfxGetAppModuleState());
            EXPECT_EQ(AfxGetResourceHandle(), Platform::MainModuleHandle());
        }
        CDialog inside(12106);
        driver.OnNextModal([](Mfc::ModalSession& s) {
            EXPECT_EQ(s.Caption(), u"English");
            s.PressEnter();
        });
        EXPECT_EQ(inside.DoModal(), IDOK);
    }
    EXPECT_EQ(AfxGetResourceHandle(), Platform::MainModuleHandle());
}

TEST_F(Language, AfxSetResourceHandleChangesOnlyTheCurrentState) {
    Platform::ResourceTable own;
    own.strings[1] = u"program";
    auto registration = Platform::RegisterMainResources(own);
    const HINSTANCE libraryModule = library.ResourceHandle();
    AfxSetResourceHandle(libraryModule);
    EXPECT_EQ(Mfc::LoadLocalizedString(10095, 0), u"Rename Profile");
    {
        AFX_MANAGE_STATE(&library);
        AfxSetResourceHandle(Platform::MainModuleHandle());
        EXPECT_EQ(Mfc::LoadLocalizedString(1, 0), u"program");
    }
    EXPECT_EQ(AfxGetResourceHandle(), libraryModule);
    AfxSetResourceHandle(Platform::MainModuleHandle());
    EXPECT_EQ(library.ResourceHandle(), Platform::MainModuleHandle());
}

}  // namespace
