// The two fixed state machines that order the wizard's screens: the full
// machine (profile selection, commit of the profile by the wizard, a closing
// profile-updated screen) and the partial one (the caller commits). Each
// state is a static object carrying its name ("Map1::Welcome") and its id;
// an event runs the old state's exit (the screen's commit), makes the
// target current and runs its entry (screen and disabled buttons).
//
// Use: the wizard implements the controller interface and makes
//     StateMachineFull::AssistantStateMachineFull machine(controller);
// which shows the welcome screen at once; its buttons then call
// machine.Next() and so on, catching what an event may throw:
//   - TransitionNotAllowedException: the screen refused to commit;
//   - statemap::TransitionUndefinedException: the state has no such event;
//   - whatever a controller operation threw from an entry action; the
//     machine is then back in the state it left, its screen shown again.
#pragma once

#include "StateMachineController.h"
#include "StateMap.h"

#include <exception>
#include <memory>

// Thrown by an exit action whose screen refused to commit.
class TransitionNotAllowedException : public std::exception {
public:
    const char* what() const noexcept override;
};

class IAssistantStateMachine {
public:
    virtual ~IAssistantStateMachine();
    virtual void Finish() = 0;
    virtual void Test() = 0;
    virtual void Back() = 0;
    virtual void Next() = 0;
    virtual void PrinterFound() = 0;
    virtual void PrinterNotFound() = 0;
};

namespace AssistantStates {

enum class Event { Back, Finish, Next, PrinterFound, PrinterNotFound, Test };
const char* EventName(Event event);

enum class EntryKind {
    Screen,              // shows a screen, then disables buttons
    ProfileUpdated,      // commits the profile to the printer, then as Screen
    SecurityEntryPoint,  // fires Next at once: the wizard never rests here
    Terminal,            // closes the wizard
};

class State;

// Where an event leads; the targets differ only for events guarded by the
// profile's Wi-Fi mode. Both null: the event is not defined.
struct Transition {
    const State* adHoc = nullptr;
    const State* infrastructure = nullptr;
    bool Defined() const { return adHoc != nullptr; }
};

struct Transitions {
    Transition back{}, finish{}, next{}, printerFound{}, printerNotFound{}, test{};
    const Transition& On(Event event) const;
};

// One state of either machine: its entry action and its transitions. The
// exit action of every state that shows a screen commits that screen.
class State : public statemap::State {
public:
    State(const char* name, int id, EntryKind entry, int screen, unsigned disabledButtons, Transitions transitions);

    EntryKind Entry() const { return entry_; }
    // The screen shown by the entry action, or -1.
    int Screen() const { return screen_; }
    // Bit (1 << ButtonID) for each button the entry disables.
    unsigned DisabledButtons() const { return disabled_; }
    bool CommitsOnExit() const { return entry_ == EntryKind::Screen || entry_ == EntryKind::ProfileUpdated; }
    const Transition& On(Event event) const { return transitions_.On(event); }

private:
    EntryKind entry_;
    int screen_;
    unsigned disabled_;
    Transitions transitions_;
};

}  // namespace AssistantStates

template <class Context, class Controller>
class AssistantStateMachine : public IAssistantStateMachine {
public:
    // Shows the welcome screen through `controller`, which must outlive the
    // machine.
    explicit AssistantStateMachine(Controller& controller);
    ~AssistantStateMachine() override;
    AssistantStateMachine(const AssistantStateMachine&) = delete;
    AssistantStateMachine& operator=(const AssistantStateMachine&) = delete;

    void Finish() override;
    void Test() override;
    void Back() override;
    void Next() override;
    void PrinterFound() override;
    void PrinterNotFound() override;

    Context& GetContext() { return *context_; }
    const Context& GetContext() const { return *context_; }
    Controller& GetController() const { return controller_; }
    // StateUndefinedException when there is none.
    const AssistantStates::State& GetState() const;
    // The screen shown by the last entry action that showed one; -1 before.
    int GetCurrentScreenId() const { return screenId_; }

private:
    friend Context;
    void Fire(AssistantStates::Event event);
    void Enter(Context& context, const AssistantStates::State& state);
    // The screen part of an entry: the screen, then its disabled buttons.
    void Show(const AssistantStates::State& state);
    bool AdHoc() const;

    Controller& controller_;
    int screenId_ = -1;
    std::unique_ptr<Context> context_;
};

namespace StateMachineFull {

class AssistantStateMachineFullContext;
using AssistantStateMachineFull = AssistantStateMachine<AssistantStateMachineFullContext, IStateMachineControllerFull>;

class AssistantStateMachineFullContext : public statemap::FSMContext {
public:
    // Makes Map1::Welcome current and runs its entry.
    explicit AssistantStateMachineFullContext(AssistantStateMachineFull& owner);
    AssistantStateMachineFull& GetOwner() const { return owner_; }

private:
    AssistantStateMachineFull& owner_;
};

// The states, ids 0 to 18 in this order.
struct Map1 {
    static const AssistantStates::State Welcome;
    static const AssistantStates::State ProfileSelection;
    static const AssistantStates::State DockName;
    static const AssistantStates::State NetworkSelection;
    static const AssistantStates::State SecurityEntryPoint;
    static const AssistantStates::State SecurityAdHoc;
    static const AssistantStates::State SecurityInfrastructure;
    static const AssistantStates::State IPAddressing;
    static const AssistantStates::State ProfileUpdated;
    static const AssistantStates::State TerminalState;
    static const AssistantStates::State SearchingFromNetworkSelection;
    static const AssistantStates::State PrinterFoundFromNetworkSelection;
    static const AssistantStates::State PrinterNotFoundFromNetworkSelection;
    static const AssistantStates::State SearchingFromSecurity;
    static const AssistantStates::State PrinterFoundFromSecurity;
    static const AssistantStates::State PrinterNotFoundFromSecurity;
    static const AssistantStates::State SearchingFromIPAddressing;
    static const AssistantStates::State PrinterFoundFromIPAddressing;
    static const AssistantStates::State PrinterNotFoundFromIPAddressing;
};

}  // namespace StateMachineFull

namespace StateMachinePartial {

class AssistantStateMachinePartialContext;
using AssistantStateMachinePartial =
    AssistantStateMachine<AssistantStateMachinePartialContext, IStateMachineController>;

class AssistantStateMachinePartialContext : public statemap::FSMContext {
public:
    // Makes Map1::Welcome current and runs its entry.
    explicit AssistantStateMachinePartialContext(AssistantStateMachinePartial& owner);
    AssistantStateMachinePartial& GetOwner() const { return owner_; }

private:
    AssistantStateMachinePartial& owner_;
};

// The states, ids 0 to 18 in this order.
struct Map1 {
    static const AssistantStates::State Welcome;
    static const AssistantStates::State DockName;
    static const AssistantStates::State NetworkSelection;
    static const AssistantStates::State SecurityEntryPoint;
    static const AssistantStates::State SecurityAdHoc;
    static const AssistantStates::State SecurityInfrastructure;
    static const AssistantStates::State IPAddressing;
    static const AssistantStates::State TerminalState;
    static const AssistantStates::State SearchingFromNetworkSelection;
    static const AssistantStates::State PrinterFoundFromNetworkSelection;
    static const AssistantStates::State PrinterNotFoundFromNetworkSelection;
    static const AssistantStates::State SearchingFromSecurity;
    static const AssistantStates::State PrinterFoundFromSecurityAdHoc;
    static const AssistantStates::State PrinterFoundFromSecurityInfrastructure;
    static const AssistantStates::State PrinterNotFoundFromSecurityAdHoc;
    static const AssistantStates::State PrinterNotFoundFromSecurityInfrastructure;
    static const AssistantStates::State SearchingFromIPAddressing;
    static const AssistantStates::State PrinterFoundFromIPAddressing;
    static const AssistantStates::State PrinterNotFoundFromIPAddressing;
};

}  // namespace StateMachinePartial

extern template class AssistantStateMachine<StateMachineFull::AssistantStateMachineFullContext,
                                            IStateMachineControllerFull>;
extern template class AssistantStateMachine<StateMachinePartial::AssistantStateMachinePartialContext,
                                            IStateMachineController>;
