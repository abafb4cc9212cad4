// Dialog templates and strings of the layer's tests, registered as the
// program's own resources for the life of a fixture.
#pragma once

#include "Mfc/Afx.h"
#include "Mfc/GTestDriver.h"

#include <gtest/gtest.h>

namespace MfcTest {

inline constexpr char kTestResources[] = R"rc(
STRING 500 "Outer caption"
DIALOG 100 200 100 "Outer"
    EDITTEXT 10 "" 10 10 100 12
    PUSHBUTTON 20 "Open inner" 10 30 60 14
    DEFPUSHBUTTON 1 "OK" 80 80 50 14
    PUSHBUTTON 2 "Cancel" 140 80 50 14
END
DIALOG 101 150 60 "Inner"
    PUSHBUTTON 21 "Open innermost" 10 10 70 14
    DEFPUSHBUTTON 1 "OK" 40 40 50 14
    PUSHBUTTON 2 "Cancel" 95 40 50 14
END
DIALOG 102 260 200 "Controls"
    CHECKBOX 30 "Check" 10 10 60 10
    RADIOBUTTON 31 "A" 10 25 30 10 GROUP
    RADIOBUTTON 32 "B" 45 25 30 10
    RADIOBUTTON 33 "C" 80 25 30 10
    RADIOBUTTON 34 "X" 120 25 30 10 GROUP
    RADIOBUTTON 35 "Y" 155 25 30 10
    COMBOBOX 40 "" 10 40 100 60
    LISTVIEW 50 "" 10 60 200 60 SINGLESEL
    IPADDRESS 60 "" 10 125 100 12
    EDITTEXT 61 "" 120 125 60 12 PASSWORD
    EDITTEXT 62 "" 190 125 40 12 NUMBER
    PUSHBUTTON 70 "Disabled" 10 145 50 14 DISABLED
    PUSHBUTTON 71 "Hidden" 70 145 50 14 HIDDEN
    LTEXT 36 "Note" 130 148 60 8
    DEFPUSHBUTTON 1 "OK" 140 175 50 14
    PUSHBUTTON 2 "Cancel" 200 175 50 14
END
DIALOG 103 150 40 "Pane" CHILD
    EDITTEXT 80 "" 5 5 100 12
END
DIALOG 200 200 80 "Step one" CHILD
    LTEXT -1 "First" 5 5 100 8
    CHECKBOX 90 "Ready" 5 20 60 10
END
DIALOG 201 200 80 "Step two" CHILD
    CHECKBOX 91 "Skip ahead" 5 20 80 10
END
DIALOG 202 200 90 "Step three" CHILD
    LTEXT -1 "Last" 5 5 100 8
END
DIALOG 104 120 60 "Labels"
    LTEXT 95 "Three short lines of words that wrap inside their label, and what does not fit is cut" 4 4 80 24
    LTEXT 96 "One line only, cut at its width" 4 40 40 8
END
)rc";

// Registers the test templates as the program's own resources and installs
// a test driver whose failures are test failures.
class DialogFixture : public ::testing::Test {
protected:
    DialogFixture()
        : registration_(Platform::RegisterMainResources(Platform::ParseResourceText(kTestResources, "test"))) {}

    Platform::ResourceRegistration registration_;
    Mfc::TestDriver driver{Mfc::GTestFailures()};
};

// A dialog whose handlers the tests set.
class TestDialog : public CDialog {
public:
    explicit TestDialog(UINT id, CWnd* parent = nullptr) : CDialog(id, parent) {}
    using CWnd::MapCommand;
    using CWnd::MapControl;
    using CWnd::MapMessage;
    using CWnd::MapNotify;

    std::function<void()> onInit;
    int initCount = 0;

protected:
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        ++initCount;
        if (onInit) onInit();
        return TRUE;
    }
};

}  // namespace MfcTest
