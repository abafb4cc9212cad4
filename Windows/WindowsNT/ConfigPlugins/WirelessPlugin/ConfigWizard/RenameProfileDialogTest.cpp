#include "RenameProfileDialog.h"

#include "ConfigWizardResources.h"

#include "Mfc/GTestDriver.h"

#include <gtest/gtest.h>

#include <clocale>
#include <iostream>

namespace {

const std::u16string kInvalid = u"The profile name contains invalid characters.";
const std::u16string kEmpty = u"Please enter a profile name.";
const std::u16string kTooLong = u"The profile name  is too long. Please enter a shorter name.";

std::u16string Duplicate(const std::u16string& name) {
    return u"There is already a profile with the name \"" + name + u"\".  Please enter a new profile name.";
}

class RenameProfileDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The narrow form of a name is measured in the machine's code page.
        ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
    }
    void TearDown() override {
        std::setlocale(LC_ALL, "C");
        Mfc::SetUserDefaultLangID(0);
    }

    // Runs the dialog through its exported DoModal with `script` driving it.
    INT_PTR Run(CRenameProfileDialog& dialog, std::function<void(Mfc::ModalSession&)> script) {
        driver.OnNextModal(std::move(script));
        const INT_PTR result = dialog.DoModal();
        EXPECT_FALSE(driver.Unanswered()) << "a scripted dialog or message box never appeared";
        return result;
    }

    std::vector<CString> names{CString(u"Home"), CString(u"Office"), CString(u"Cafe")};
    Mfc::TestDriver driver{Mfc::GTestFailures()};
};

TEST_F(RenameProfileDialogTest, OpensWithTheCurrentNameSelectedAndShowsItsLayout) {
    CRenameProfileDialog dialog(u"Home", names);
    const INT_PTR result = Run(dialog, [](Mfc::ModalSession& s) {
        EXPECT_EQ(s.Caption(), u"Rename Profile");
        EXPECT_EQ(s.Text(13138), u"New Name :");
        EXPECT_EQ(s.Text(13001), u"Home");
        EXPECT_TRUE(s.Focused(13001));
        EXPECT_EQ(s.Selection(13001), std::make_pair(0, 4));
        EXPECT_EQ(s.Text(IDOK), u"OK");
        EXPECT_EQ(s.Text(IDCANCEL), u"Cancel");
        const std::string picture = s.Render();
        std::cout << picture;
        EXPECT_NE(picture.find("Rename Profile"), std::string::npos);
        EXPECT_NE(picture.find("13001 edit \"Home\" focus sel 0-4 limit 64"), std::string::npos) << picture;
        s.Click(IDCANCEL);
    });
    EXPECT_EQ(result, IDCANCEL);
}

TEST_F(RenameProfileDialogTest, UnchangedNameClosesAtOnceEvenThoughItIsInUse) {
    CRenameProfileDialog dialog(u"Home", names);
    EXPECT_EQ(Run(dialog, [](Mfc::ModalSession& s) { s.PressEnter(); }), IDOK);
    EXPECT_EQ(dialog.GetProfileName(), u"Home");
    EXPECT_TRUE(driver.MessageBoxes().empty());
}

TEST_F(RenameProfileDialogTest, NewNameIsAccepted) {
    CRenameProfileDialog dialog(u"Home", names);
    EXPECT_EQ(Run(dialog,
                  [](Mfc::ModalSession& s) {
                      s.Type(13001, u"Garden \u00e9t\u00e9");
                      s.Click(IDOK);
                  }),
              IDOK);
    EXPECT_EQ(dialog.GetProfileName(), u"Garden \u00e9t\u00e9");
}

TEST_F(RenameProfileDialogTest, EmptyNameIsRefusedAndTheDialogStays) {
    CRenameProfileDialog dialog(u"Home", names);
    driver.ExpectMessageBox(kEmpty, IDOK);
    const INT_PTR result = Run(dialog, [](Mfc::ModalSession& s) {
        s.Type(13001, u"");
        s.Click(IDOK);
        EXPECT_TRUE(s.IsOpen());
        EXPECT_TRUE(s.Focused(13001));
        s.Type(13001, u"Studio");
        s.PressEnter();
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dialog.GetProfileName(), u"Studio");
    ASSERT_EQ(driver.MessageBoxes().size(), 1u);
    EXPECT_EQ(driver.MessageBoxes()[0].request.type & MB_TYPEMASK, MB_OK);
}

TEST_F(RenameProfileDialogTest, SixtyFourBytesAreAcceptedAndTheEditRefusesMoreCharacters) {
    CRenameProfileDialog dialog(u"Home", names);
    const std::u16string sixtyFour(64, u'n');
    EXPECT_EQ(Run(dialog,
                  [&](Mfc::ModalSession& s) {
                      s.Type(13001, sixtyFour + u"x");
                      EXPECT_EQ(s.Text(13001), sixtyFour);
                      s.Click(IDOK);
                  }),
              IDOK);
    EXPECT_EQ(dialog.GetProfileName(), sixtyFour);
}

TEST_F(RenameProfileDialogTest, NameOverSixtyFourBytesInMultiByteCharactersIsRefused) {
    CRenameProfileDialog dialog(u"Home", names);
    // 22 characters of three bytes each: well inside the edit's limit of 64
    // characters, but 66 bytes.
    const std::u16string wide(22, u'\u65e5');
    driver.ExpectMessageBox(kTooLong, IDOK);
    EXPECT_EQ(Run(dialog,
                  [&](Mfc::ModalSession& s) {
                      s.Type(13001, wide);
                      EXPECT_EQ(s.Text(13001), wide);
                      s.Click(IDOK);
                      EXPECT_TRUE(s.IsOpen());
                      EXPECT_TRUE(s.Focused(13001));
                      EXPECT_EQ(s.Selection(13001), std::make_pair(0, 22));
                      s.Click(IDCANCEL);
                  }),
              IDCANCEL);
    EXPECT_EQ(dialog.GetProfileName(), wide) << "the entered name is kept after a refused OK";
}

TEST_F(RenameProfileDialogTest, UnpairedSurrogateIsRefusedAsInvalid) {
    CRenameProfileDialog dialog(u"Home", names);
    driver.ExpectMessageBox(kInvalid, IDOK);
    EXPECT_EQ(Run(dialog,
                  [](Mfc::ModalSession& s) {
                      s.Type(13001, u"Bad\xD83D name");
                      s.Click(IDOK);
                      EXPECT_TRUE(s.IsOpen());
                      s.PressEscape();
                  }),
              IDCANCEL);
}

TEST_F(RenameProfileDialogTest, ExactDuplicateIsRefusedWithTheNameInTheMessage) {
    CRenameProfileDialog dialog(u"Home", names);
    driver.ExpectMessageBox(Duplicate(u"Office"), IDOK);
    EXPECT_EQ(Run(dialog,
                  [](Mfc::ModalSession& s) {
                      s.Type(13001, u"Office");
                      s.Click(IDOK);
                      EXPECT_TRUE(s.IsOpen());
                      EXPECT_EQ(s.Selection(13001), std::make_pair(0, 6));
                      s.Type(13001, u"OFFICE");
                      s.Click(IDOK);
                  }),
              IDOK);
    EXPECT_EQ(dialog.GetProfileName(), u"OFFICE") << "a name differing in letter case is not a duplicate";
    ASSERT_EQ(driver.MessageBoxes().size(), 1u);
    EXPECT_EQ(driver.MessageBoxes()[0].request.caption, u"Velmo Wireless Configuration Utility");
}

TEST_F(RenameProfileDialogTest, DuplicateNameWithPercentSignsIsQuotedAsItStands) {
    names.emplace_back(u"100% %s %d");
    CRenameProfileDialog dialog(u"Home", names);
    driver.ExpectMessageBox(Duplicate(u"100% %s %d"), IDOK);
    Run(dialog, [](Mfc::ModalSession& s) {
        s.Type(13001, u"100% %s %d");
        s.Click(IDOK);
        s.Click(IDCANCEL);
    });
}

TEST_F(RenameProfileDialogTest, OneOkShowsOneMessageEvenWhenTheNameIsAlsoADuplicate) {
    // Names already in use that are themselves too long or unconvertible:
    // entering one again fails two checks, and only the first is reported.
    const std::u16string tooLong(22, u'\u65e5');
    const std::u16string invalid = u"Lone\xDC00";
    names.emplace_back(tooLong);
    names.emplace_back(invalid);
    CRenameProfileDialog dialog(u"Home", names);
    driver.ExpectMessageBox(kTooLong, IDOK);
    driver.ExpectMessageBox(kInvalid, IDOK);
    Run(dialog, [&](Mfc::ModalSession& s) {
        s.Type(13001, tooLong);
        s.Click(IDOK);
        s.Type(13001, invalid);
        s.Click(IDOK);
        s.Click(IDCANCEL);
    });
    EXPECT_EQ(driver.MessageBoxes().size(), 2u);
}

TEST_F(RenameProfileDialogTest, CancelAndCloseKeepTheCurrentName) {
    CRenameProfileDialog dialog(u"Home", names);
    EXPECT_EQ(Run(dialog,
                  [](Mfc::ModalSession& s) {
                      s.Type(13001, u"Elsewhere");
                      s.Click(IDCANCEL);
                  }),
              IDCANCEL);
    EXPECT_EQ(dialog.GetProfileName(), u"Home");

    CRenameProfileDialog again(u"Home", names);
    EXPECT_EQ(Run(again, [](Mfc::ModalSession& s) { s.Close(); }), IDCANCEL);
    EXPECT_TRUE(driver.MessageBoxes().empty());
}

TEST_F(RenameProfileDialogTest, OtherLanguagesFallBackToTheEnglishTexts) {
    Mfc::SetUserDefaultLangID(MAKELANGID(0x07, 0x01));  // German: offset 5000, no texts of its own
    CRenameProfileDialog dialog(u"Home", names);
    driver.ExpectMessageBox(Duplicate(u"Cafe"), IDOK);
    Run(dialog, [](Mfc::ModalSession& s) {
        EXPECT_EQ(s.Caption(), u"Rename Profile");
        EXPECT_EQ(s.Text(IDCANCEL), u"Cancel");
        s.Type(13001, u"Cafe");
        s.Click(IDOK);
        s.Click(IDCANCEL);
    });
}

TEST(ElvintorResources, ParseAndHoldTheRenameTemplate) {
    const auto table = ElvintorResources();
    ASSERT_EQ(table.dialogs.count(12106), 1u);
    const auto& t = table.dialogs.at(12106);
    EXPECT_EQ(t.cx, 239);
    EXPECT_EQ(t.cy, 49);
    EXPECT_EQ(t.caption, u"Rename Profile");
    ASSERT_EQ(t.items.size(), 4u);
    EXPECT_EQ(t.items[1].id, 13001u);
    EXPECT_FALSE(table.strings.at(10036).empty());
}

}  // namespace
