// The terminal front end: a script (or a person) runs a dialog with the
// same commands, and what went wrong is said.
#include "TestDialogs.h"

#include "Mfc/Layer.h"

#include <gmock/gmock.h>

#include <unistd.h>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using namespace MfcTest;
using testing::HasSubstr;
using testing::Not;

class Terminal : public ::testing::Test {
protected:
    // Runs dialog 102 (with a filled combo and list) under the front end.
    INT_PTR Run(const std::string& script, bool interactive = false) {
        std::istringstream input(script);
        Mfc::TerminalFrontEnd frontEnd(input, output, interactive);
        TestDialog dialog(102);
        CComboBox combo;
        CListCtrl list;
        dialog.onInit = [&] {
            combo.SubclassDlgItem(40, &dialog);
            combo.AddString(u"Red");
            combo.AddString(u"Green");
            list.SubclassDlgItem(50, &dialog);
            list.InsertColumn(0, u"Device", LVCFMT_LEFT, 120);
            list.InsertColumn(1, u"Owner", LVCFMT_LEFT, 60);
            list.InsertItem(0, u"Phone");
            list.SetItemText(0, 1, u"Ann");
            list.InsertItem(1, u"Tablet");
            list.SetItemText(1, 1, u"Ben");
            // A row that another thread reports a moment later.
            if (lateRow) {
                late = std::thread([window = dialog.m_hWnd] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                    ::PostMessageW(window, WM_APP, 0, 0);
                });
            }
        };
        dialog.MapMessage(WM_APP, [&](WPARAM, LPARAM) -> LRESULT {
            list.InsertItem(2, u"Laptop");
        list.SetItemText(2, 1, u"Cleo");
            if (lateBox) answer = AfxMessageBox(u"Found it", MB_OKCANCEL);
            return 0;
        });
        dialog.MapCommand(IDOK, [&] {
            checked = dialog.IsDlgButtonChecked(30) == BST_CHECKED;
            radio = dialog.IsDlgButtonChecked(32) == BST_CHECKED;
            comboIndex = combo.GetCurSel();
            row = list.GetNextItem(-1, LVNI_SELECTED);
            CString text;
            dialog.GetDlgItemText(62, text);
            number = text;
            dialog.GetDlgItemText(61, text);
            password = text;
            if (askOnOk) answer = AfxMessageBox(u"Really?", MB_YESNOCANCEL);
            if (answer != IDCANCEL) dialog.EndDialog(IDOK);
        });
        const INT_PTR result = dialog.DoModal();
        if (late.joinable()) late.join();
        failed = frontEnd.Failed();
        return result;
    }

    Platform::ResourceRegistration registration_{
        Platform::RegisterMainResources(Platform::ParseResourceText(kTestResources, "test"))};
    std::ostringstream output;
    bool failed = false;
    bool checked = false;
    bool radio = false;
    int comboIndex = -1;
    int row = -1;
    CString number;
    CString password;
    bool askOnOk = false;
    int answer = 0;
    bool lateRow = false;
    bool lateBox = false;  // the late report opens a message box
    std::thread late;
};

TEST_F(Terminal, AScriptSetsEveryKindOfControlAndPressesOkByCaption) {
    const INT_PTR result =
        Run("# comments and blank lines are skipped\n"
            "\n"
            "check 30\n"
            "check 32 on\n"
            "pick 40 Green\n"
            "pick 50 1\n"
            "type 62 42\n"
            "type 61 \" two words \"\n"
            "press ok\n");  // captions in any case
    EXPECT_EQ(result, IDOK);
    EXPECT_FALSE(failed) << output.str();
    EXPECT_TRUE(checked);
    EXPECT_TRUE(radio);
    EXPECT_EQ(comboIndex, 1);
    EXPECT_EQ(row, 1);
    EXPECT_EQ(number, CString(u"42"));
    EXPECT_EQ(password, CString(u" two words "));
    // The dialog is shown first and after each change; the commands are echoed.
    EXPECT_THAT(output.str(), HasSubstr("Controls"));
    EXPECT_THAT(output.str(), HasSubstr("> pick 40 Green\n"));
}

TEST_F(Terminal, AScriptWaitsForARowAnotherThreadAdds) {
    lateRow = true;
    EXPECT_EQ(Run("wait 50 Laptop\npick 50 Laptop\npress OK\n"), IDOK);
    EXPECT_FALSE(failed) << output.str();
    EXPECT_EQ(row, 2);
    // A control's own text counts too; a wait for a control the dialog
    // lacks is no wait.
    lateRow = false;
    EXPECT_EQ(Run("wait 62 \"\"\nwait 99 x\npress OK\n"), IDCANCEL);
    EXPECT_THAT(output.str(), HasSubstr("script line 2: the dialog has no control 99"));
}

TEST_F(Terminal, MessageBoxesAreAnsweredByButtonNameAndOthersWait) {
    askOnOk = true;
    EXPECT_EQ(Run("press 1\nanswer cancel\npress 1\nanswer Yes\n"), IDOK);
    EXPECT_FALSE(failed) << output.str();
    EXPECT_EQ(answer, IDYES);
    EXPECT_THAT(output.str(), HasSubstr("Really?\n  answer with: Yes No Cancel"));
}

TEST_F(Terminal, AScriptsAnswerWaitsForTheBoxTheDialogsWorkOpens) {
    lateRow = true;
    lateBox = true;
    EXPECT_EQ(Run("answer OK\npick 50 Laptop\npress OK\n"), IDOK);
    EXPECT_FALSE(failed) << output.str();
    EXPECT_EQ(answer, IDOK);
    EXPECT_EQ(row, 2);
    EXPECT_THAT(output.str(), HasSubstr("Found it\n  answer with: OK Cancel"));
    // The held answer must fit the box that came.
    output.str("");
    EXPECT_EQ(Run("answer Yes\npress OK\n"), IDCANCEL);
    EXPECT_TRUE(failed);
    EXPECT_EQ(answer, IDCANCEL);
    EXPECT_THAT(output.str(), HasSubstr("the message box has no button \"Yes\""));
}

TEST_F(Terminal, AScriptThatGoesWrongCancelsAndSaysWhere) {
    // Each mistake a script can make ends the run on its line.
    const std::pair<std::string, std::string> cases[] = {
        {"check 30\nfrobnicate\n", "script line 2: unknown command \"frobnicate\""},
        {"press 999\n", "script line 1: the dialog has no control 999"},
        {"press Nowhere\n", "the dialog has no control \"Nowhere\""},
        {"press 70\n", "is disabled"},
        {"pick 40 Blue\n", "has no item \"Blue\""},
        {"pick 50 7\n", "has no row 7"},
        {"pick 30 1\n", "is no combo box or list"},
        {"type x 1\n", "the id is a number"},
        {"check 30 maybe\n", "\"maybe\" is neither"},
        {"check 30\n", "script line 1: the script ended while \"Controls\" was open"},
    };
    for (const auto& [script, message] : cases) {
        output.str("");
        EXPECT_EQ(Run(script), IDCANCEL) << script;
        EXPECT_TRUE(failed) << script;
        EXPECT_THAT(output.str(), HasSubstr(message)) << script;
    }
    askOnOk = true;
    output.str("");
    EXPECT_EQ(Run("press OK\nanswer Maybe\n"), IDCANCEL);
    EXPECT_THAT(output.str(), HasSubstr("the message box has no button \"Maybe\""));
}

TEST_F(Terminal, ACommandTheControlCannotTakeIsRefusedWithTheReason) {
    struct Case {
        std::string commands;
        std::string message;
        int comboIndex = -1;  // what OK finds after the refusal
    };
    const Case cases[] = {
        {"check 40", "combo 40 \"\" is no check box or radio button"},
        {"check 1", "button 1 \"OK\" is no check box or radio button"},
        {"check 32\ncheck 32 off", "radio 32 \"B\" is a radio button: check another of its group"},
        {"type 36 x", "static 36 \"Note\" takes no typing"},
        {"type 62 12a", "edit 62 \"12\" refused 1 key of \"12a\""},
        {"press 36", "static 36 \"Note\" is no button"},
        {"press 70", "button 70 \"Disabled\" is disabled"},
        {"press Hidden", "button 71 \"Hidden\" is hidden"},
        {"pick 40 Green\npick 40 9", "combo 40 \"Green\" has no item 9 (it has 2 items, counted from 0)", 1},
        {"pick 40", "pick <id> <index|text>: which item?"},
        {"pick 50 Nobody", "list 50 \"\" has no row showing \"Nobody\""},
    };
    for (const auto& c : cases) {
        output.str("");
        EXPECT_EQ(Run(c.commands + "\npress OK\n", true), IDOK) << c.commands;
        EXPECT_THAT(output.str(), HasSubstr("error: " + c.message + "\n")) << c.commands;
        EXPECT_FALSE(checked) << c.commands;
        EXPECT_EQ(comboIndex, c.comboIndex) << c.commands;
    }

    // A row is named by any of its cells, for a wait as for a pick.
    lateRow = true;
    output.str("");
    EXPECT_EQ(Run("wait 50 Cleo\npick 50 Ben\npress OK\n"), IDOK);
    EXPECT_FALSE(failed) << output.str();
    EXPECT_EQ(row, 1);
}

TEST_F(Terminal, APersonIsToldOfAMistakeAndAskedAgain) {
    EXPECT_EQ(Run("press 999\ncheck 30\nquit\n", true), IDCANCEL);
    EXPECT_FALSE(failed);
    EXPECT_THAT(output.str(), HasSubstr("error: the dialog has no control 999\n> "));
    EXPECT_THAT(output.str(), Not(HasSubstr("> check 30")));  // a person's commands are not echoed

    // A person answers the box they see, not one to come.
    output.str("");
    EXPECT_EQ(Run("answer OK\nquit\n", true), IDCANCEL);
    EXPECT_THAT(output.str(), HasSubstr("error: no message box is open\n> "));

    askOnOk = true;
    output.str("");
    EXPECT_EQ(Run("press OK\ncheck 30\nanswer No\n", true), IDOK);
    EXPECT_THAT(output.str(), HasSubstr("error: a message box is open: answer it first"));
    EXPECT_EQ(answer, IDNO);
}

// A program installs nothing: its modal loop starts the front end when the
// environment names a script, and a script that went wrong ends it with 2.
void RunProgramWithScript(const std::string& script) {
    // One file per process: other test runs may share the temporary folder.
    const std::string path = testing::TempDir() + "velmo-terminal-script-" + std::to_string(::getpid()) + ".txt";
    std::ofstream(path) << script;
    ::setenv("VELMO_UI_SCRIPT", path.c_str(), 1);
    auto registration = Platform::RegisterMainResources(Platform::ParseResourceText(kTestResources, "test"));
    TestDialog dialog(102);
    const INT_PTR result = dialog.DoModal();
    std::exit(result == IDOK ? 0 : 1);
}

TEST(TerminalStart, AModalLoopWithNoDriverRunsTheScriptTheEnvironmentNames) {
    EXPECT_EXIT(RunProgramWithScript("check 30\npress OK\n"), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(RunProgramWithScript("press 999\n"), testing::ExitedWithCode(2), "");
    EXPECT_EXIT(RunProgramWithScript("press Cancel\n"), testing::ExitedWithCode(1), "");
}

}  // namespace
