#include "TestDialogs.h"

#include <string>
#include <vector>

namespace {

using MfcTest::DialogFixture;
using MfcTest::TestDialog;

using ModalLoops = DialogFixture;

// Outer opens Inner from button 20, Inner opens Innermost from 21; both
// record the results their DoModal returned.
TEST_F(ModalLoops, NestedDialogsRunTheirOwnLoopsAndGiveTheOwnerBack) {
    TestDialog outer(100);
    TestDialog inner(101, &outer);
    TestDialog innermost(101, &inner);
    std::vector<INT_PTR> results;
    std::vector<WPARAM> seen;
    outer.MapCommand(20, [&] { results.push_back(inner.DoModal()); });
    inner.MapCommand(21, [&] { results.push_back(innermost.DoModal()); });
    outer.MapMessage(WM_USER + 37, [&](WPARAM w, LPARAM) -> LRESULT {
        seen.push_back(w);
        return 0;
    });

    driver.OnNextModal([&](Mfc::ModalSession& s) {
        EXPECT_EQ(s.Caption(), u"Inner");
        EXPECT_FALSE(outer.IsWindowEnabled()) << "the owner takes no input while its modal child runs";
        // Messages for the owner are handled by the inner loop.
        outer.PostMessage(WM_USER + 37, 1, 0);
        s.PumpUntilIdle();
        EXPECT_EQ(seen, std::vector<WPARAM>{1});
        s.Click(21);
        EXPECT_TRUE(s.IsOpen());
        EXPECT_TRUE(s.Enabled(21)) << "the inner dialog is enabled again once the innermost one is gone";
        s.Click(IDOK);
    });
    driver.OnNextModal([&](Mfc::ModalSession& s) {
        EXPECT_EQ(Mfc::ModalWindows().size(), 2u);
        EXPECT_FALSE(inner.IsWindowEnabled());
        outer.PostMessage(WM_USER + 37, 2, 0);
        s.PressEscape();
    });

    auto session = driver.BeginModal(outer);
    session.Click(20);
    EXPECT_EQ(results, (std::vector<INT_PTR>{IDCANCEL, IDOK}));
    EXPECT_EQ(seen, (std::vector<WPARAM>{1, 2}));
    EXPECT_TRUE(outer.IsWindowEnabled());
    EXPECT_TRUE(session.Focused(20)) << "the focus goes back where it was before the modal dialog";
    EXPECT_FALSE(::IsWindow(inner.m_hWnd));
    session.Click(IDOK);
    EXPECT_EQ(session.Result(), IDOK);
}

TEST_F(ModalLoops, EndingTheOuterDialogFromAnInnerLoopWaitsForTheInnerOne) {
    TestDialog outer(100);
    TestDialog inner(101, &outer);
    INT_PTR innerResult = 0;
    outer.MapCommand(20, [&] { innerResult = inner.DoModal(); });
    outer.MapMessage(WM_USER + 1, [&](WPARAM, LPARAM) -> LRESULT {
        outer.EndDialog(77);
        return 0;
    });
    driver.OnNextModal([&](Mfc::ModalSession& s) {
        outer.PostMessage(WM_USER + 1);
        s.PumpUntilIdle();
        EXPECT_TRUE(s.IsOpen()) << "ending the outer loop must not end the inner one";
        s.Click(IDOK);
    });
    auto session = driver.BeginModal(outer);
    session.Click(20);
    EXPECT_EQ(innerResult, IDOK);
    EXPECT_EQ(session.Result(), 77);
}

TEST_F(ModalLoops, EndDialogDuringInitialisationSkipsTheLoop) {
    TestDialog dialog(101);
    dialog.onInit = [&] { dialog.EndDialog(5); };
    EXPECT_EQ(dialog.DoModal(), 5);
    EXPECT_EQ(dialog.m_hWnd, nullptr);
}

TEST_F(ModalLoops, MissingTemplateFailsWithMinusOne) {
    TestDialog dialog(999);
    EXPECT_EQ(dialog.DoModal(), -1);
}

// The driver itself: it must turn every way a test could hang or go wrong
// silently into a failure.
class DriverFailures : public ::testing::Test {
protected:
    Platform::ResourceRegistration registration_ =
        Platform::RegisterMainResources(Platform::ParseResourceText(MfcTest::kTestResources, "test"));
    Mfc::TestDriver driver;  // failures collected, not reported
};

TEST_F(DriverFailures, AModalLoopWithNothingScriptedFailsInsteadOfHanging) {
    TestDialog dialog(101);
    EXPECT_EQ(dialog.DoModal(), -1);
    ASSERT_EQ(driver.Failures().size(), 1u);
    EXPECT_NE(driver.Failures()[0].find("nothing is scripted"), std::string::npos);
    EXPECT_NE(driver.Failures()[0].find("Open innermost"), std::string::npos) << "the failure shows the dialog";
}

TEST_F(DriverFailures, AScriptThatLeavesTheDialogOpenFails) {
    TestDialog dialog(101);
    driver.OnNextModal([](Mfc::ModalSession& s) { s.PumpUntilIdle(); });
    EXPECT_EQ(dialog.DoModal(), -1);
    ASSERT_EQ(driver.Failures().size(), 1u);
    EXPECT_NE(driver.Failures()[0].find("its script has finished"), std::string::npos);
}

TEST_F(DriverFailures, UnreachableControlsUnansweredBoxesAndExceptionsAreFailures) {
    TestDialog dialog(102);
    int clicks = 0;
    dialog.MapCommand(70, [&] { ++clicks; });
    dialog.MapCommand(30, [&] { throw std::runtime_error("handler broke"); });
    dialog.MapCommand(1, [&] {
        EXPECT_EQ(AfxMessageBox(u"Sure?", MB_YESNOCANCEL), IDCANCEL);
        dialog.EndDialog(IDOK);
    });
    auto s = driver.BeginModal(dialog);
    s.Click(70);
    s.Click(71);
    s.Click(12345);
    EXPECT_EQ(clicks, 0);
    s.Click(30);
    EXPECT_TRUE(s.IsOpen()) << "an exception in a handler stops at the window's border";
    s.Click(IDOK);
    EXPECT_EQ(s.Result(), IDOK);
    ASSERT_EQ(driver.Failures().size(), 5u);
    EXPECT_NE(driver.Failures()[0].find("out of the user's reach"), std::string::npos);
    EXPECT_NE(driver.Failures()[1].find("out of the user's reach"), std::string::npos);
    EXPECT_NE(driver.Failures()[2].find("no control 12345"), std::string::npos);
    EXPECT_NE(driver.Failures()[3].find("handler broke"), std::string::npos);
    EXPECT_NE(driver.Failures()[4].find("no answer scripted"), std::string::npos);
}

TEST_F(DriverFailures, AnAnswerTheBoxDoesNotOfferIsAFailure) {
    driver.AnswerNextMessageBox(IDYES);
    EXPECT_EQ(AfxMessageBox(u"Only OK", MB_OK), IDYES);
    ASSERT_EQ(driver.Failures().size(), 1u);
    ASSERT_EQ(driver.MessageBoxes().size(), 1u);
    EXPECT_EQ(driver.MessageBoxes()[0].request.text, u"Only OK");
}

using Routing = DialogFixture;

class ReflectingButton : public CButton {
public:
    ReflectingButton() {
        MapControlReflect(BN_CLICKED, [this] { ++reflected; });
    }
    int reflected = 0;
};

TEST_F(Routing, CommandsReachTheControlsObjectFirstAndUserMessagesKeepTheirNumbers) {
    TestDialog dialog(100);
    ReflectingButton button;
    int parentClicks = 0;
    std::vector<UINT> edits;
    LPARAM searchResult = -1;
    dialog.onInit = [&] { button.SubclassDlgItem(20, &dialog); };
    dialog.MapCommand(20, [&] { ++parentClicks; });
    dialog.MapControl(EN_CHANGE, 10, [&] { edits.push_back(EN_CHANGE); });
    dialog.MapMessage(WM_USER + 219, [&](WPARAM found, LPARAM) -> LRESULT {
        searchResult = static_cast<LPARAM>(found);
        return 0;
    });
    auto s = driver.BeginModal(dialog);
    s.Click(20);
    EXPECT_EQ(button.reflected, 1);
    EXPECT_EQ(parentClicks, 0) << "a reflected command that the control handles does not reach its parent";

    s.Type(10, u"ab");
    dialog.SetDlgItemText(10, u"set");
    EXPECT_EQ(edits.size(), 3u) << "typed and programmatic text changes both send EN_CHANGE";

    ASSERT_TRUE(::PostMessageW(dialog.m_hWnd, 1243, 1, 0));
    s.PumpUntilIdle();
    EXPECT_EQ(searchResult, 1);
    s.Click(IDCANCEL);
}

TEST_F(Routing, EnterPressesTheDefaultButtonAndNotADisabledOne) {
    struct Beeps : Mfc::WindowObserver {
        int count = 0;
        void OnBeep(UINT) override { ++count; }
    } beeps;
    Mfc::AddWindowObserver(&beeps);
    TestDialog dialog(100);
    int oks = 0;
    dialog.MapCommand(IDOK, [&] { ++oks; });
    auto s = driver.BeginModal(dialog);
    s.PressEnter();
    EXPECT_EQ(oks, 1);
    dialog.GetDlgItem(IDOK)->EnableWindow(FALSE);
    s.PressEnter();
    EXPECT_EQ(oks, 1);
    EXPECT_EQ(beeps.count, 1);
    // A push button with the focus is pressed by Enter instead.
    dialog.GetDlgItem(20)->SetFocus();
    int opens = 0;
    dialog.MapCommand(20, [&] { ++opens; });
    s.PressEnter();
    EXPECT_EQ(opens, 1);
    s.PressEscape();
    EXPECT_EQ(s.Result(), IDCANCEL);
    Mfc::RemoveWindowObserver(&beeps);
}

class Pane : public CDialog {
public:
    Pane() : CDialog(103) {}
    CEdit edit;
    int inits = 0;

protected:
    void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, 80, edit); }
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        ++inits;
        edit.SetWindowText(u"fresh");
        return TRUE;
    }
};

TEST_F(Routing, ModelessPanesAreCreatedAgainOnEachShow) {
    TestDialog frame(100);
    Pane pane;
    auto s = driver.BeginModal(frame);
    ASSERT_TRUE(pane.Create(103, &frame));
    pane.ShowWindow(SW_SHOW);
    const HWND first = pane.m_hWnd;
    const HWND firstEdit = pane.edit.m_hWnd;
    EXPECT_EQ(s.Text(80), u"fresh");
    s.Type(80, u"typed");
    EXPECT_EQ(s.Text(80), u"typed");

    pane.DestroyWindow();
    EXPECT_EQ(pane.m_hWnd, nullptr);
    EXPECT_EQ(pane.edit.m_hWnd, nullptr) << "control objects are detached with their windows";
    EXPECT_FALSE(::IsWindow(first));
    EXPECT_FALSE(::PostMessageW(first, WM_USER, 0, 0));
    EXPECT_EQ(::SetWindowTextW(firstEdit, u"x"), FALSE);

    ASSERT_TRUE(pane.Create(103, &frame));
    pane.ShowWindow(SW_SHOW);
    EXPECT_EQ(pane.inits, 2);
    EXPECT_NE(pane.m_hWnd, first);
    EXPECT_NE(pane.edit.m_hWnd, nullptr);
    EXPECT_EQ(s.Text(80), u"fresh");
    EXPECT_NE(s.Render().find("pane \"Pane\""), std::string::npos);
    s.Click(IDCANCEL);
    EXPECT_FALSE(::IsWindow(pane.m_hWnd)) << "a pane goes with its frame";
}

// A three-step wizard: step one asks for Back disabled, step two stays
// while its box is unchecked, Back from step three returns to step one.
class StepOne : public CPropertyPage {
public:
    StepOne() : CPropertyPage(200) {}
    BOOL OnSetActive() override {
        GetSheet()->SetWizardButtons(PSWIZB_NEXT);
        return CPropertyPage::OnSetActive();
    }
};

class StepTwo : public CPropertyPage {
public:
    StepTwo() : CPropertyPage(201) {}
    BOOL OnSetActive() override {
        GetSheet()->SetWizardButtons(PSWIZB_BACK | PSWIZB_NEXT);
        return CPropertyPage::OnSetActive();
    }
    LRESULT OnWizardNext() override { return IsDlgButtonChecked(91) ? 202 : -1; }
};

class StepThree : public CPropertyPage {
public:
    StepThree() : CPropertyPage(202) {}
    BOOL OnSetActive() override {
        GetSheet()->SetWizardButtons(PSWIZB_BACK | PSWIZB_FINISH);
        return CPropertyPage::OnSetActive();
    }
    LRESULT OnWizardBack() override { return 200; }
    BOOL OnQueryCancel() override { return allowCancel; }
    bool allowCancel = false;
};

using Wizard = DialogFixture;

TEST_F(Wizard, BackNextAndFinishFollowThePages) {
    StepOne one;
    StepTwo two;
    StepThree three;
    CPropertySheet sheet(500u);
    sheet.AddPage(&one);
    sheet.AddPage(&two);
    sheet.AddPage(&three);
    sheet.SetWizardMode();

    auto s = driver.BeginModal(sheet);
    EXPECT_EQ(s.Caption(), u"Outer caption");
    EXPECT_EQ(sheet.GetActiveIndex(), 0);
    EXPECT_FALSE(s.Enabled(ID_WIZBACK));
    EXPECT_TRUE(s.Enabled(ID_WIZNEXT));
    EXPECT_FALSE(s.Visible(ID_WIZFINISH));
    EXPECT_TRUE(s.Exists(90));

    s.PressEnter();  // the sheet's default button, from inside a page
    EXPECT_EQ(sheet.GetActiveIndex(), 1);
    EXPECT_TRUE(s.Enabled(ID_WIZBACK));
    EXPECT_FALSE(s.Visible(90)) << "the inactive page is hidden";
    s.Click(ID_WIZNEXT);
    EXPECT_EQ(sheet.GetActiveIndex(), 1) << "OnWizardNext returned -1";
    s.Check(91);
    s.Click(ID_WIZNEXT);
    EXPECT_EQ(sheet.GetActiveIndex(), 2);
    EXPECT_TRUE(s.Visible(ID_WIZFINISH));
    EXPECT_FALSE(s.Visible(ID_WIZNEXT));

    s.Click(ID_WIZBACK);
    EXPECT_EQ(sheet.GetActiveIndex(), 0) << "OnWizardBack named the first page's template";
    s.Click(ID_WIZNEXT);
    EXPECT_TRUE(s.Checked(91)) << "a page keeps its window once created";
    s.Click(ID_WIZNEXT);
    s.Click(IDCANCEL);
    EXPECT_TRUE(s.IsOpen()) << "OnQueryCancel refused";
    three.allowCancel = true;
    s.Click(ID_WIZFINISH);
    EXPECT_EQ(s.Result(), ID_WIZFINISH);
    EXPECT_EQ(one.m_hWnd, nullptr);
}

TEST_F(Wizard, PagesPostButtonStatesAndPressButtons) {
    StepOne one;
    StepTwo two;
    StepThree three;
    CPropertySheet sheet(u"Sheet", nullptr, 1);
    sheet.AddPage(&one);
    sheet.AddPage(&two);
    sheet.AddPage(&three);
    sheet.SetWizardMode();
    auto s = driver.BeginModal(sheet);
    EXPECT_EQ(sheet.GetActiveIndex(), 1);
    ::PostMessageW(sheet.m_hWnd, PSM_SETWIZBUTTONS, 0, PSWIZB_DISABLEDFINISH);
    s.PumpUntilIdle();
    EXPECT_TRUE(s.Visible(ID_WIZFINISH));
    EXPECT_FALSE(s.Enabled(ID_WIZFINISH));
    EXPECT_FALSE(s.Enabled(ID_WIZBACK));
    sheet.PressButton(PSBTN_BACK);
    s.PumpUntilIdle();
    EXPECT_EQ(sheet.GetActiveIndex(), 0);
    s.PressEscape();
    EXPECT_EQ(s.Result(), IDCANCEL);
}

}  // namespace

namespace {

using Observers = MfcTest::DialogFixture;

struct Recorder : Mfc::WindowObserver {
    std::vector<std::string> events;
    void OnWindowCreated(HWND w) override { events.push_back("created " + Mfc::DescribeWindow(w)); }
    void OnWindowDestroyed(HWND w) override { events.push_back("destroyed " + Mfc::DescribeWindow(w)); }
    void OnWindowChanged(HWND w, Mfc::WindowChange change) override {
        if (change == Mfc::WindowChange::Text) events.push_back("text " + Mfc::DescribeWindow(w));
        if (change == Mfc::WindowChange::Enabling) events.push_back("enabling " + Mfc::DescribeWindow(w));
    }
    void OnModalLoop(HWND w, bool entering) override {
        events.push_back((entering ? "loop " : "end loop ") + Mfc::DescribeWindow(w));
    }
};

TEST_F(Observers, AFrontEndSeesTheTreeBeingBuiltChangedAndTornDown) {
    Recorder recorder;
    Mfc::AddWindowObserver(&recorder);
    MfcTest::TestDialog outer(100);
    MfcTest::TestDialog inner(101, &outer);
    outer.MapCommand(20, [&] { inner.DoModal(); });
    driver.OnNextModal([](Mfc::ModalSession& s) { s.Click(IDCANCEL); });
    {
        auto s = driver.BeginModal(outer);
        s.Type(10, u"a");
        s.Click(20);
        s.Click(IDCANCEL);
    }
    Mfc::RemoveWindowObserver(&recorder);
    const std::vector<std::string> expected = {
        "created dialog 0 \"Outer\"",
        "created edit 10 \"\"",
        "created button 20 \"Open inner\"",
        "created button 1 \"OK\"",
        "created button 2 \"Cancel\"",
        "text edit 10 \"a\"",
        "enabling dialog 0 \"Outer\"",
        "created dialog 0 \"Inner\"",
        "created button 21 \"Open innermost\"",
        "created button 1 \"OK\"",
        "created button 2 \"Cancel\"",
        "loop dialog 0 \"Inner\"",
        "end loop dialog 0 \"Inner\"",
        "enabling dialog 0 \"Outer\"",
        "destroyed button 21 \"Open innermost\"",
        "destroyed button 1 \"OK\"",
        "destroyed button 2 \"Cancel\"",
        "destroyed dialog 0 \"Inner\"",
        "destroyed edit 10 \"a\"",
        "destroyed button 20 \"Open inner\"",
        "destroyed button 1 \"OK\"",
        "destroyed button 2 \"Cancel\"",
        "destroyed dialog 0 \"Outer\"",
    };
    EXPECT_EQ(recorder.events, expected);
}

TEST(WaitCursor, NestsAndIgnoresUnbalancedEnds) {
    const int before = Mfc::WaitCursorDepth();
    {
        CWaitCursor outer;
        CWaitCursor inner;
        EXPECT_EQ(Mfc::WaitCursorDepth(), before + 2);
    }
    EXPECT_EQ(Mfc::WaitCursorDepth(), before);
    CWnd window;
    window.BeginWaitCursor();
    window.EndWaitCursor();
    window.EndWaitCursor();
    window.EndWaitCursor();
    EXPECT_EQ(Mfc::WaitCursorDepth(), std::max(before - 2, 0));
}

}  // namespace
