#include "TestDialogs.h"

#include <string>
#include <vector>

namespace {

using MfcTest::DialogFixture;
using MfcTest::TestDialog;

std::string Change(const char* what, const NMLISTVIEW& n) {
    return std::string(what) + " " + std::to_string(n.iItem) + " " + std::to_string(n.uOldState) + "->" +
           std::to_string(n.uNewState);
}

// A list that logs the notifications reflected to it. With keepSelection a
// row keeps its selection unless the point of the current message hits a
// row, so that clicking empty space never leaves the list without one.
class RecordingList : public CListCtrl {
public:
    RecordingList() {
        MapNotifyReflect(LVN_ITEMCHANGING, [this](NMHDR* h, LRESULT* result) {
            const auto& n = *reinterpret_cast<NMLISTVIEW*>(h);
            log.push_back(Change("changing", n));
            POINT point = GetCurrentMessage()->pt;
            ScreenToClient(&point);
            const int hit = HitTest(point);
            const bool losing = (n.uOldState & LVIS_SELECTED) && !(n.uNewState & LVIS_SELECTED);
            if (refuse || (keepSelection && losing && hit < 0)) *result = TRUE;
            if (!(n.uOldState & LVIS_SELECTED) && (n.uNewState & LVIS_SELECTED)) hitWhenSelected = hit;
        });
        MapNotifyReflect(LVN_ITEMCHANGED, [this](NMHDR* h, LRESULT*) {
            log.push_back(Change("changed", *reinterpret_cast<NMLISTVIEW*>(h)));
        });
    }
    std::vector<std::string> log;
    bool refuse = false;
    bool keepSelection = false;
    int hitWhenSelected = -2;
};

class Lists : public DialogFixture {
protected:
    void Fill(CListCtrl& list, int rows) {
        list.InsertColumn(0, u"SSID", LVCFMT_LEFT, 120);
        list.InsertColumn(1, u"Channel", LVCFMT_LEFT, 60);
        for (int i = 0; i < rows; ++i) {
            const CString name = CString(u"net") + CString(static_cast<char16_t>(u'0' + i));
            const int row = list.InsertItem(i, name);
            list.SetItemText(row, 1, CString(static_cast<char16_t>(u'1' + i)));
            list.SetItemData(row, static_cast<DWORD_PTR>(100 + i));
        }
    }
};

TEST_F(Lists, ProgrammaticSelectionSendsChangingThenChangedToTheControlFirst) {
    TestDialog dialog(102);
    RecordingList list;
    int parentSaw = 0;
    dialog.onInit = [&] {
        list.SubclassDlgItem(50, &dialog);
        Fill(list, 3);
    };
    dialog.MapNotify(LVN_ITEMCHANGING, 50, [&](NMHDR*, LRESULT*) { ++parentSaw; });
    auto s = driver.BeginModal(dialog);

    EXPECT_TRUE(list.SetItemState(1, LVIS_SELECTED, LVIS_SELECTED));
    EXPECT_EQ(list.log, (std::vector<std::string>{"changing 1 0->2", "changed 1 0->2"}));
    EXPECT_EQ(parentSaw, 0) << "the control's reflected handler took the notification";

    list.log.clear();
    EXPECT_TRUE(list.SetItemState(2, LVIS_SELECTED, LVIS_SELECTED));
    EXPECT_EQ(list.log,
              (std::vector<std::string>{"changing 1 2->0", "changed 1 2->0", "changing 2 0->2", "changed 2 0->2"}))
        << "a single-selection list deselects the other row first";
    EXPECT_EQ(list.GetSelectedCount(), 1u);

    list.log.clear();
    list.refuse = true;
    EXPECT_FALSE(list.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED));
    EXPECT_EQ(list.log, (std::vector<std::string>{"changing 2 2->0"}));
    EXPECT_EQ(s.SelectedRow(50), 2) << "a refused change leaves every row as it was";
    EXPECT_EQ(list.GetItemState(0, LVIS_SELECTED), 0u);
    s.Click(IDCANCEL);
}

TEST_F(Lists, ClicksHitRowsAndEmptySpaceKeepsTheSelectionWhenTheHandlerSaysSo) {
    TestDialog dialog(102);
    RecordingList list;
    dialog.onInit = [&] {
        list.SubclassDlgItem(50, &dialog);
        Fill(list, 2);
    };
    auto s = driver.BeginModal(dialog);
    s.ClickRow(50, 1);
    EXPECT_EQ(s.SelectedRow(50), 1);
    EXPECT_EQ(list.hitWhenSelected, 1) << "the current message's point is the click's";
    EXPECT_EQ(list.GetNextItem(-1, LVNI_FOCUSED), 1);

    list.keepSelection = true;
    s.ClickListEmpty(50);
    EXPECT_EQ(s.SelectedRow(50), 1);
    list.keepSelection = false;
    s.ClickListEmpty(50);
    EXPECT_EQ(s.SelectedRow(50), -1) << "without the rule a click on empty space clears the selection";

    s.ClickRow(50, 0);
    EXPECT_EQ(list.GetItemData(0), 100u);
    EXPECT_EQ(s.Rows(50), (std::vector<std::vector<CString>>{{u"net0", u"1"}, {u"net1", u"2"}}));
    EXPECT_EQ(list.GetHeaderCtrl()->GetItemCount(), 2);
    const std::string picture = s.Render();
    // Item data is the program's own, often a pointer: the picture shows the cells alone.
    EXPECT_NE(picture.find("> row 0: \"net0\" \"1\"\n"), std::string::npos) << picture;
    s.Click(IDCANCEL);
}

TEST_F(Lists, WithoutAnObjectTheParentGetsAndMayRefuseTheChange) {
    TestDialog dialog(102);
    std::vector<UINT> codes;
    dialog.onInit = [&] {
        auto* list = static_cast<CListCtrl*>(dialog.GetDlgItem(50));
        Fill(*list, 2);
    };
    dialog.MapNotify(LVN_ITEMCHANGING, 50, [&](NMHDR* h, LRESULT* result) {
        codes.push_back(h->code);
        *result = reinterpret_cast<NMLISTVIEW*>(h)->iItem == 1;
    });
    dialog.MapNotify(LVN_ITEMCHANGED, 50, [&](NMHDR* h, LRESULT*) { codes.push_back(h->code); });
    auto s = driver.BeginModal(dialog);
    s.ClickRow(50, 0);
    s.ClickRow(50, 1);
    EXPECT_EQ(s.SelectedRow(50), -1) << "row 0 let go, row 1 was refused";
    EXPECT_EQ(codes, (std::vector<UINT>{LVN_ITEMCHANGING, LVN_ITEMCHANGED, LVN_ITEMCHANGING, LVN_ITEMCHANGED,
                                        LVN_ITEMCHANGING}));
    s.Click(IDCANCEL);
}

TEST_F(Lists, DoubleClickSelectsTheRowThenTellsTheParentWhichRow) {
    TestDialog dialog(102);
    std::vector<std::string> log;
    dialog.onInit = [&] { Fill(*static_cast<CListCtrl*>(dialog.GetDlgItem(50)), 3); };
    dialog.MapNotify(LVN_ITEMCHANGED, 50, [&](NMHDR* h, LRESULT*) {
        const auto& n = *reinterpret_cast<NMLISTVIEW*>(h);
        if (n.uNewState & LVIS_SELECTED) log.push_back("selected " + std::to_string(n.iItem));
    });
    dialog.MapNotify(NM_DBLCLK, 50, [&](NMHDR* h, LRESULT*) {
        const auto& a = *reinterpret_cast<NMITEMACTIVATE*>(h);
        log.push_back("double " + std::to_string(a.iItem) + " data " + std::to_string(a.lParam));
    });
    auto s = driver.BeginModal(dialog);
    s.DoubleClickRow(50, 2);
    EXPECT_EQ(log, (std::vector<std::string>{"selected 2", "double 2 data 102"}));
    EXPECT_EQ(s.SelectedRow(50), 2);

    log.clear();
    RECT client{};
    ::GetClientRect(s.Control(50), &client);
    Mfc::Input::DoubleClickAt(s.Control(50), POINT{client.right / 2, client.bottom - 2});
    EXPECT_EQ(log, (std::vector<std::string>{"double -1 data 0"})) << "empty space names no row";
    s.Click(IDCANCEL);
}

TEST_F(Lists, ClickingARowBelowThePageScrollsItIntoView) {
    TestDialog dialog(102);
    dialog.onInit = [&] { Fill(*static_cast<CListCtrl*>(dialog.GetDlgItem(50)), 10); };
    auto s = driver.BeginModal(dialog);
    auto* list = static_cast<CListCtrl*>(dialog.GetDlgItem(50));
    const int page = list->GetCountPerPage();
    ASSERT_GT(page, 0);
    ASSERT_LT(page, 10);
    s.ClickRow(50, 9);
    EXPECT_EQ(s.SelectedRow(50), 9);
    EXPECT_EQ(list->GetTopIndex(), 10 - page);
    list->DeleteItem(9);
    EXPECT_EQ(list->GetSelectedCount(), 0u);
    s.Click(IDCANCEL);
}

using Buttons = DialogFixture;

TEST_F(Buttons, RadioButtonsUncheckOnlyTheirOwnGroup) {
    TestDialog dialog(102);
    std::vector<int> clicked;
    for (int id : {30, 31, 32, 33, 34, 35}) dialog.MapCommand(id, [&clicked, id] { clicked.push_back(id); });
    auto s = driver.BeginModal(dialog);
    s.Click(34);
    s.Click(31);
    s.Click(32);
    EXPECT_FALSE(s.Checked(31));
    EXPECT_TRUE(s.Checked(32));
    EXPECT_TRUE(s.Checked(34)) << "another group is left alone";
    s.Check(30);
    s.Check(30);
    EXPECT_TRUE(s.Checked(30));
    s.Check(30, false);
    EXPECT_FALSE(s.Checked(30));
    EXPECT_EQ(clicked, (std::vector<int>{34, 31, 32, 30, 30}));

    CDataExchange load(&dialog, FALSE);
    int choice = 2;
    DDX_Radio(&load, 31, choice);
    EXPECT_TRUE(s.Checked(33));
    EXPECT_FALSE(s.Checked(32));
    CDataExchange save(&dialog, TRUE);
    DDX_Radio(&save, 34, choice);
    EXPECT_EQ(choice, 0);
    EXPECT_EQ(dialog.GetCheckedRadioButton(31, 33), 33);
    s.Click(IDCANCEL);
}

using Edits = DialogFixture;

TEST_F(Edits, TheLimitAndNumberStyleBindTypingOnly) {
    struct Beeps : Mfc::WindowObserver {
        int count = 0;
        void OnBeep(UINT) override { ++count; }
    } beeps;
    TestDialog dialog(102);
    std::vector<UINT> codes;
    dialog.MapControl(EN_MAXTEXT, 62, [&] { codes.push_back(EN_MAXTEXT); });
    auto s = driver.BeginModal(dialog);
    Mfc::AddWindowObserver(&beeps);
    auto* edit = static_cast<CEdit*>(dialog.GetDlgItem(62));
    edit->SetLimitText(5);
    s.Type(62, u"12a34567");
    EXPECT_EQ(s.Text(62), u"12345");
    EXPECT_EQ(beeps.count, 3);
    EXPECT_EQ(codes.size(), 2u) << "only the characters beyond the limit are reported as such";
    edit->SetWindowText(u"1234567890");
    EXPECT_EQ(s.Text(62), u"1234567890") << "text set by the program is not limited";
    edit->SetSel(2, 4);
    edit->ReplaceSel(u"xyz");
    EXPECT_EQ(s.Text(62), u"12567890") << "the selection goes; nothing fits in its place";
    edit->SetSel(0, -1);
    edit->ReplaceSel(u"ab");
    EXPECT_EQ(s.Text(62), u"ab");
    EXPECT_EQ(s.Selection(62), std::make_pair(2, 2));
    Mfc::RemoveWindowObserver(&beeps);
    s.Click(IDCANCEL);
}

TEST_F(Edits, PasswordTextIsHiddenInTheRendering) {
    TestDialog dialog(102);
    auto s = driver.BeginModal(dialog);
    s.Type(61, u"secret");
    EXPECT_EQ(s.Text(61), u"secret");
    const std::string picture = s.Render();
    EXPECT_EQ(picture.find("secret"), std::string::npos) << picture;
    EXPECT_NE(picture.find("61 edit \"******\""), std::string::npos) << picture;
    s.Click(IDCANCEL);
}

using Labels = DialogFixture;

TEST_F(Labels, TallLabelsWrapAtBlanksInTheRendering) {
    TestDialog dialog(104);
    auto s = driver.BeginModal(dialog);
    const std::string picture = s.Render();
    const std::string canvas = picture.substr(0, picture.find("\n  "));
    // 80 dialog units are 20 columns; 24 units are three lines.
    EXPECT_NE(canvas.find("| Three short lines of "), std::string::npos) << picture;
    EXPECT_NE(canvas.find("| words that wrap      "), std::string::npos) << picture;
    EXPECT_NE(canvas.find("| inside their label,  "), std::string::npos) << picture;
    EXPECT_EQ(canvas.find("fit"), std::string::npos) << picture;
    EXPECT_NE(canvas.find("| One line o"), std::string::npos) << picture;
    EXPECT_NE(
        picture.find("95 static \"Three short lines of words that wrap inside their label, and what does not fit"),
        std::string::npos)
        << "the full text stays in the listing";
    s.Close();
}

using Combos = DialogFixture;

TEST_F(Combos, ItemsDataSearchesAndOnlyUserChoicesNotify) {
    TestDialog dialog(102);
    int changes = 0;
    dialog.MapControl(CBN_SELCHANGE, 40, [&] { ++changes; });
    auto s = driver.BeginModal(dialog);
    auto* combo = static_cast<CComboBox*>(dialog.GetDlgItem(40));
    EXPECT_EQ(combo->AddString(u"United States"), 0);
    EXPECT_EQ(combo->AddString(u"united kingdom"), 1);
    EXPECT_EQ(combo->AddString(u"Canada"), 2);
    combo->SetItemData(2, 124);
    EXPECT_EQ(combo->FindString(-1, u"UNI"), 0);
    EXPECT_EQ(combo->FindString(0, u"uni"), 1) << "the search starts after the given item";
    EXPECT_EQ(combo->FindString(1, u"uni"), 0) << "and wraps round";
    EXPECT_EQ(combo->FindStringExact(-1, u"CANADA"), 2);
    EXPECT_EQ(combo->SelectString(-1, u"can"), 2);
    EXPECT_EQ(s.Text(40), u"Canada");
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(combo->SelectString(-1, u"Mexico"), CB_ERR);
    EXPECT_EQ(combo->GetCurSel(), 2) << "a failed search keeps the selection";

    s.SelectComboText(40, u"united kingdom");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(combo->GetCurSel(), 1);
    combo->DeleteString(0);
    EXPECT_EQ(combo->GetCurSel(), 0);
    combo->InsertString(0, u"Albania");
    EXPECT_EQ(combo->GetCurSel(), 1);
    EXPECT_EQ(combo->GetItemData(2), 124u);
    EXPECT_EQ(combo->SetCurSel(7), CB_ERR);
    EXPECT_EQ(combo->GetCurSel(), -1);
    EXPECT_EQ(s.Text(40), u"");
    s.Click(IDCANCEL);
}

using IPAddresses = DialogFixture;

TEST_F(IPAddresses, DottedTextAndFieldsAgree) {
    TestDialog dialog(102);
    auto s = driver.BeginModal(dialog);
    auto* ip = static_cast<CIPAddressCtrl*>(dialog.GetDlgItem(60));
    EXPECT_TRUE(ip->IsBlank());
    EXPECT_EQ(s.Text(60), u"0.0.0.0");
    ip->SetWindowText(u"192.168.1.5");
    DWORD address = 0;
    EXPECT_EQ(ip->GetAddress(address), 4);
    EXPECT_EQ(address, MAKEIPADDRESS(192, 168, 1, 5));
    s.Type(60, u"10.0.0.254");
    EXPECT_EQ(s.Text(60), u"10.0.0.254");
    s.Type(60, u"172.31.5.7");
    EXPECT_EQ(s.Text(60), u"172.31.5.7") << "full fields move on by themselves and a dot after that is ignored";
    ip->SetWindowText(u"not an address");
    EXPECT_EQ(s.Text(60), u"172.31.5.7");
    ip->SetWindowText(u"300.1.2.3");
    EXPECT_EQ(s.Text(60), u"172.31.5.7") << "a field above 255 is no address";
    ip->ClearAddress();
    EXPECT_EQ(ip->GetAddress(address), 0);
    s.Click(IDCANCEL);
}

TEST_F(IPAddresses, TypedFieldsAreTakenAsTypedOrRefusedAloud) {
    struct Beeps : Mfc::WindowObserver {
        int count = 0;
        void OnBeep(UINT) override { ++count; }
    } beeps;
    Mfc::AddWindowObserver(&beeps);
    TestDialog dialog(102);
    auto s = driver.BeginModal(dialog);
    const std::u16string range = u" is not a valid entry. Please specify a value between 0 and 255.";
    // A third digit fills a field; one above 255 is told and set to 255.
    driver.ExpectMessageBox(u"300" + range, IDOK);
    s.Type(60, u"300.1.1.1");
    EXPECT_EQ(s.Text(60), u"255.1.1.1");
    driver.ExpectMessageBox(u"256" + range, IDOK);
    s.Type(60, u"10.0.0.256");
    EXPECT_EQ(s.Text(60), u"10.0.0.255");
    EXPECT_EQ(beeps.count, 0);
    // There is no fifth field: its dot and digits are refused.
    s.Type(60, u"1.2.3.4.5");
    EXPECT_EQ(s.Text(60), u"1.2.3.4");
    EXPECT_EQ(beeps.count, 2);
    s.Type(60, u"1.2.3.123");
    EXPECT_EQ(s.Text(60), u"1.2.3.123");
    s.Type(60, u"9");
    EXPECT_EQ(s.Text(60), u"9.2.3.123") << "tabbing in starts again at the first field";
    EXPECT_EQ(driver.MessageBoxes().size(), 2u);
    s.Click(IDCANCEL);
    Mfc::RemoveWindowObserver(&beeps);
}

}  // namespace

TEST_F(Lists, ClassNameIsTheTemplatesAndIsCutToTheBuffer) {
    TestDialog dialog(102);
    auto s = driver.BeginModal(dialog);
    WCHAR name[32] = {};
    EXPECT_EQ(GetClassNameW(s.Control(50), name, 32), 13);
    EXPECT_EQ(std::u16string(name), u"SysListView32");
    EXPECT_EQ(GetClassNameW(s.Control(50), name, 4), 3);
    EXPECT_EQ(std::u16string(name), u"Sys");
    EXPECT_EQ(GetClassNameW(nullptr, name, 32), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    s.Click(IDCANCEL);
}
