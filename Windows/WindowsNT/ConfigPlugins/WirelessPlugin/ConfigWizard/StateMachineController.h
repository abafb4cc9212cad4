// What the wizard's state machines see of the wizard: screens to show,
// buttons to disable, the current screen to commit, the profile being
// edited, and (full wizard) the commit of that profile to the printer.
#pragma once

#include "Common/NetConfig/Settings.h"

// The wizard's screens, one pane each.
enum StateMachineScreenID : int {
    WelcomeScreen = 0,
    ProfileSelectionScreen = 1,
    DockNameScreen = 2,
    NetworkSelectionScreen = 3,
    SearchingScreen = 4,
    PrinterFoundNextScreen = 5,     // Finish or Next
    PrinterFoundBackScreen = 6,     // Finish or Back
    PrinterNotFoundNextScreen = 7,  // Back or Next
    PrinterNotFoundBackScreen = 8,  // Back only
    SecurityScreen = 9,
    IPAddressingScreen = 10,
    ProfileUpdatedScreen = 11,
};
constexpr int kScreenCount = 12;

// The frame's buttons, indexing its button table.
enum ButtonID : int {
    CancelButton = 0,
    FinishButton = 1,
    TestButton = 2,
    BackButton = 3,
    NextButton = 4,
};
constexpr int kButtonCount = 5;

class IStateMachineController {
public:
    virtual ~IStateMachineController();
    // Shows the screen with every button enabled.
    virtual void DisplayScreen(StateMachineScreenID screen) = 0;
    virtual void DisableButton(ButtonID button) = 0;
    // Validates and stores the screen on display; false keeps it there.
    virtual bool CommitScreen() = 0;
    // Ends the wizard with IDOK.
    virtual void CloseWizard() = 0;
    // The profile being edited.
    virtual const Profile& GetProfile() const = 0;
};

class IStateMachineControllerFull : public IStateMachineController {
public:
    // Sends the profile being edited to the printer.
    virtual void CommitProfile() = 0;
};
