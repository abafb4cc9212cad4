#include "AssistantStateMachine.h"

#include <ostream>
#include <type_traits>

IStateMachineController::~IStateMachineController() = default;
IAssistantStateMachine::~IAssistantStateMachine() = default;

const char* TransitionNotAllowedException::what() const noexcept {
    return "Transition was not allowed.";
}

namespace AssistantStates {

const char* EventName(Event event) {
    switch (event) {
        case Event::Back:
            return "Back";
        case Event::Finish:
            return "Finish";
        case Event::Next:
            return "Next";
        case Event::PrinterFound:
            return "PrinterFound";
        case Event::PrinterNotFound:
            return "PrinterNotFound";
        case Event::Test:
            return "Test";
    }
    return "";
}

const Transition& Transitions::On(Event event) const {
    switch (event) {
        case Event::Back:
            return back;
        case Event::Finish:
            return finish;
        case Event::Next:
            return next;
        case Event::PrinterFound:
            return printerFound;
        case Event::PrinterNotFound:
            return printerNotFound;
        case Event::Test:
            return test;
    }
    return back;
}

State::State(const char* name, int id, EntryKind entry, int screen, unsigned disabledButtons, Transitions transitions)
    : statemap::State(name, id),
      entry_(entry),
      screen_(screen),
      disabled_(disabledButtons),
      transitions_(transitions) {}

}  // namespace AssistantStates

using AssistantStates::EntryKind;
using AssistantStates::Event;
using AssistantStates::State;
using AssistantStates::Transition;

// ---- The machine

template <class Context, class Controller>
AssistantStateMachine<Context, Controller>::AssistantStateMachine(Controller& controller) : controller_(controller) {
    context_ = std::make_unique<Context>(*this);
}

template <class Context, class Controller>
AssistantStateMachine<Context, Controller>::~AssistantStateMachine() = default;

template <class Context, class Controller>
void AssistantStateMachine<Context, Controller>::Finish() {
    Fire(Event::Finish);
}
template <class Context, class Controller>
void AssistantStateMachine<Context, Controller>::Test() {
    Fire(Event::Test);
}
template <class Context, class Controller>
void AssistantStateMachine<Context, Controller>::Back() {
    Fire(Event::Back);
}
template <class Context, class Controller>
void AssistantStateMachine<Context, Controller>::Next() {
    Fire(Event::Next);
}
template <class Context, class Controller>
void AssistantStateMachine<Context, Controller>::PrinterFound() {
    Fire(Event::PrinterFound);
}
template <class Context, class Controller>
void AssistantStateMachine<Context, Controller>::PrinterNotFound() {
    Fire(Event::PrinterNotFound);
}

template <class Context, class Controller>
const State& AssistantStateMachine<Context, Controller>::GetState() const {
    // Every state of these machines is one of their own.
    return static_cast<const State&>(context_->GetState());
}

template <class Context, class Controller>
bool AssistantStateMachine<Context, Controller>::AdHoc() const {
    return controller_.GetProfile().GetWiFiSettings().GetMode() == WIFI_MODE_ADHOC;
}

template <class Context, class Controller>
void AssistantStateMachine<Context, Controller>::Fire(Event event) {
    Context& context = *context_;
    const bool debug = context.GetDebugFlag() == 1;
    struct TransitionName {
        Context& context;
        bool debug;
        ~TransitionName() {
            if (debug) context.SetTransition(nullptr);
        }
    } name{context, debug};
    if (debug) context.SetTransition(AssistantStates::EventName(event));

    const State& from = GetState();
    const Transition& transition = from.On(event);
    if (!transition.Defined()) {
        if (debug) context.GetDebugStream() << "TRANSITION   : Default" << std::endl;
        throw statemap::TransitionUndefinedException(from.GetName(), AssistantStates::EventName(event));
    }
    // A guard reads the profile as the screens committed it before this
    // event: the state left has not committed yet.
    const bool guarded = transition.adHoc != transition.infrastructure;
    const State& to = guarded && !AdHoc() ? *transition.infrastructure : *transition.adHoc;
    if (debug)
        context.GetDebugStream() << "TRANSITION   : Map1 " << AssistantStates::EventName(event) << "()" << std::endl;

    if (from.CommitsOnExit() && !controller_.CommitScreen()) throw TransitionNotAllowedException();
    context.SetState(to);
    try {
        Enter(context, to);
    } catch (...) {
        // The old screen has been committed and hidden and the new one may
        // not be there: go back to the state left and show its screen
        // again (only the screen: a profile is not sent twice), so the
        // wizard rests on a screen that works. A decision state leaves that
        // to the transition that entered it.
        if (from.Screen() >= 0) {
            context.SetState(from);
            try {
                Show(from);
            } catch (...) {
                // The first failure is the one to report.
            }
        }
        throw;
    }
}

template <class Context, class Controller>
void AssistantStateMachine<Context, Controller>::Enter(Context&, const State& state) {
    switch (state.Entry()) {
        case EntryKind::ProfileUpdated:
            if constexpr (std::is_base_of_v<IStateMachineControllerFull, Controller>) {
                controller_.CommitProfile();
            }
            [[fallthrough]];
        case EntryKind::Screen:
            Show(state);
            break;
        case EntryKind::SecurityEntryPoint:
            Next();
            break;
        case EntryKind::Terminal:
            controller_.CloseWizard();
            break;
    }
}

template <class Context, class Controller>
void AssistantStateMachine<Context, Controller>::Show(const State& state) {
    controller_.DisplayScreen(static_cast<StateMachineScreenID>(state.Screen()));
    screenId_ = state.Screen();
    for (int button = 0; button < kButtonCount; ++button) {
        if ((state.DisabledButtons() & (1u << button)) != 0) controller_.DisableButton(static_cast<ButtonID>(button));
    }
}

// ---- The states

namespace {

constexpr unsigned kNone = 0;
constexpr unsigned kFinish = 1u << FinishButton;
constexpr unsigned kTest = 1u << TestButton;
constexpr unsigned kBack = 1u << BackButton;
constexpr unsigned kNext = 1u << NextButton;
constexpr unsigned kSearching = kFinish | kTest | kBack | kNext;

constexpr Transition To(const State& state) {
    return {&state, &state};
}
// Guarded by the profile's Wi-Fi mode.
constexpr Transition ByMode(const State& adHoc, const State& infrastructure) {
    return {&adHoc, &infrastructure};
}

}  // namespace

namespace StateMachineFull {

AssistantStateMachineFullContext::AssistantStateMachineFullContext(AssistantStateMachineFull& owner) : owner_(owner) {
    SetState(Map1::Welcome);
    owner_.Enter(*this, Map1::Welcome);
}

using M = Map1;
const State M::Welcome{
    "Map1::Welcome", 0, EntryKind::Screen, WelcomeScreen, kFinish | kTest | kBack, {.next = To(M::ProfileSelection)}};
const State M::ProfileSelection{"Map1::ProfileSelection", 1,
                                EntryKind::Screen,        ProfileSelectionScreen,
                                kFinish | kTest,          {.back = To(M::Welcome), .next = To(M::DockName)}};
const State M::DockName{"Map1::DockName",  2,
                        EntryKind::Screen, DockNameScreen,
                        kFinish | kTest,   {.back = To(M::ProfileSelection), .next = To(M::NetworkSelection)}};
const State M::NetworkSelection{"Map1::NetworkSelection",
                                3,
                                EntryKind::Screen,
                                NetworkSelectionScreen,
                                kNone,
                                {.back = To(M::DockName),
                                 .finish = To(M::ProfileUpdated),
                                 .next = To(M::SecurityEntryPoint),
                                 .test = To(M::SearchingFromNetworkSelection)}};
const State M::SecurityEntryPoint{"Map1::SecurityEntryPoint",
                                  4,
                                  EntryKind::SecurityEntryPoint,
                                  -1,
                                  kNone,
                                  {.next = ByMode(M::SecurityAdHoc, M::SecurityInfrastructure)}};
const State M::SecurityAdHoc{
    "Map1::SecurityAdHoc",
    5,
    EntryKind::Screen,
    SecurityScreen,
    kNext,
    {.back = To(M::NetworkSelection), .finish = To(M::ProfileUpdated), .test = To(M::SearchingFromSecurity)}};
const State M::SecurityInfrastructure{"Map1::SecurityInfrastructure",
                                      6,
                                      EntryKind::Screen,
                                      SecurityScreen,
                                      kNone,
                                      {.back = To(M::NetworkSelection),
                                       .finish = To(M::ProfileUpdated),
                                       .next = To(M::IPAddressing),
                                       .test = To(M::SearchingFromSecurity)}};
const State M::IPAddressing{"Map1::IPAddressing",
                            7,
                            EntryKind::Screen,
                            IPAddressingScreen,
                            kNone,
                            {.back = ByMode(M::SecurityAdHoc, M::SecurityInfrastructure),
                             .finish = To(M::ProfileUpdated),
                             .next = To(M::ProfileUpdated),
                             .test = To(M::SearchingFromIPAddressing)}};
const State M::ProfileUpdated{"Map1::ProfileUpdated",
                              8,
                              EntryKind::ProfileUpdated,
                              ProfileUpdatedScreen,
                              kTest | kBack,
                              {.finish = To(M::TerminalState), .next = To(M::ProfileSelection)}};
const State M::TerminalState{"Map1::TerminalState", 9, EntryKind::Terminal, -1, kNone, {}};
const State M::SearchingFromNetworkSelection{"Map1::SearchingFromNetworkSelection",
                                             10,
                                             EntryKind::Screen,
                                             SearchingScreen,
                                             kSearching,
                                             {.printerFound = To(M::PrinterFoundFromNetworkSelection),
                                              .printerNotFound = To(M::PrinterNotFoundFromNetworkSelection)}};
const State M::PrinterFoundFromNetworkSelection{"Map1::PrinterFoundFromNetworkSelection",
                                                11,
                                                EntryKind::Screen,
                                                PrinterFoundNextScreen,
                                                kTest,
                                                {.back = To(M::NetworkSelection),
                                                 .finish = To(M::ProfileUpdated),
                                                 .next = ByMode(M::SecurityAdHoc, M::SecurityInfrastructure)}};
const State M::PrinterNotFoundFromNetworkSelection{
    "Map1::PrinterNotFoundFromNetworkSelection",
    12,
    EntryKind::Screen,
    PrinterNotFoundNextScreen,
    kFinish | kTest,
    {.back = To(M::NetworkSelection), .next = ByMode(M::SecurityAdHoc, M::SecurityInfrastructure)}};
const State M::SearchingFromSecurity{
    "Map1::SearchingFromSecurity",
    13,
    EntryKind::Screen,
    SearchingScreen,
    kSearching,
    {.printerFound = To(M::PrinterFoundFromSecurity), .printerNotFound = To(M::PrinterNotFoundFromSecurity)}};
const State M::PrinterFoundFromSecurity{"Map1::PrinterFoundFromSecurity",
                                        14,
                                        EntryKind::Screen,
                                        PrinterFoundNextScreen,
                                        kTest,
                                        {.back = ByMode(M::SecurityAdHoc, M::SecurityInfrastructure),
                                         .finish = To(M::ProfileUpdated),
                                         .next = To(M::IPAddressing)}};
const State M::PrinterNotFoundFromSecurity{
    "Map1::PrinterNotFoundFromSecurity",
    15,
    EntryKind::Screen,
    PrinterNotFoundNextScreen,
    kFinish | kTest,
    {.back = ByMode(M::SecurityAdHoc, M::SecurityInfrastructure), .next = To(M::IPAddressing)}};
const State M::SearchingFromIPAddressing{
    "Map1::SearchingFromIPAddressing",
    16,
    EntryKind::Screen,
    SearchingScreen,
    kSearching,
    {.printerFound = To(M::PrinterFoundFromIPAddressing), .printerNotFound = To(M::PrinterNotFoundFromIPAddressing)}};
const State M::PrinterFoundFromIPAddressing{"Map1::PrinterFoundFromIPAddressing",
                                            17,
                                            EntryKind::Screen,
                                            PrinterFoundNextScreen,
                                            kTest | kNext,
                                            {.back = To(M::IPAddressing), .finish = To(M::ProfileUpdated)}};
const State M::PrinterNotFoundFromIPAddressing{"Map1::PrinterNotFoundFromIPAddressing",
                                               18,
                                               EntryKind::Screen,
                                               PrinterNotFoundNextScreen,
                                               kTest | kNext,
                                               {.back = To(M::IPAddressing), .finish = To(M::ProfileUpdated)}};

}  // namespace StateMachineFull

namespace StateMachinePartial {

AssistantStateMachinePartialContext::AssistantStateMachinePartialContext(AssistantStateMachinePartial& owner)
    : owner_(owner) {
    SetState(Map1::Welcome);
    owner_.Enter(*this, Map1::Welcome);
}

using M = Map1;
const State M::Welcome{"Map1::Welcome",          0, EntryKind::Screen, WelcomeScreen, kFinish | kTest | kBack,
                       {.next = To(M::DockName)}};
const State M::DockName{"Map1::DockName",  1,
                        EntryKind::Screen, DockNameScreen,
                        kFinish | kTest,   {.back = To(M::Welcome), .next = To(M::NetworkSelection)}};
const State M::NetworkSelection{"Map1::NetworkSelection",
                                2,
                                EntryKind::Screen,
                                NetworkSelectionScreen,
                                kNone,
                                {.back = To(M::DockName),
                                 .finish = To(M::TerminalState),
                                 .next = To(M::SecurityEntryPoint),
                                 .test = To(M::SearchingFromNetworkSelection)}};
const State M::SecurityEntryPoint{"Map1::SecurityEntryPoint",
                                  3,
                                  EntryKind::SecurityEntryPoint,
                                  -1,
                                  kNone,
                                  {.next = ByMode(M::SecurityAdHoc, M::SecurityInfrastructure)}};
const State M::SecurityAdHoc{
    "Map1::SecurityAdHoc",
    4,
    EntryKind::Screen,
    SecurityScreen,
    kNext,
    {.back = To(M::NetworkSelection), .finish = To(M::TerminalState), .test = To(M::SearchingFromSecurity)}};
const State M::SecurityInfrastructure{"Map1::SecurityInfrastructure",
                                      5,
                                      EntryKind::Screen,
                                      SecurityScreen,
                                      kNone,
                                      {.back = To(M::NetworkSelection),
                                       .finish = To(M::TerminalState),
                                       .next = To(M::IPAddressing),
                                       .test = To(M::SearchingFromSecurity)}};
const State M::IPAddressing{
    "Map1::IPAddressing",
    6,
    EntryKind::Screen,
    IPAddressingScreen,
    kNext,
    {.back = To(M::SecurityInfrastructure), .finish = To(M::TerminalState), .test = To(M::SearchingFromIPAddressing)}};
const State M::TerminalState{"Map1::TerminalState", 7, EntryKind::Terminal, -1, kNone, {}};
const State M::SearchingFromNetworkSelection{"Map1::SearchingFromNetworkSelection",
                                             8,
                                             EntryKind::Screen,
                                             SearchingScreen,
                                             kSearching,
                                             {.printerFound = To(M::PrinterFoundFromNetworkSelection),
                                              .printerNotFound = To(M::PrinterNotFoundFromNetworkSelection)}};
const State M::PrinterFoundFromNetworkSelection{"Map1::PrinterFoundFromNetworkSelection",
                                                9,
                                                EntryKind::Screen,
                                                PrinterFoundNextScreen,
                                                kTest,
                                                {.back = To(M::NetworkSelection),
                                                 .finish = To(M::TerminalState),
                                                 .next = ByMode(M::SecurityAdHoc, M::SecurityInfrastructure)}};
const State M::PrinterNotFoundFromNetworkSelection{
    "Map1::PrinterNotFoundFromNetworkSelection",
    10,
    EntryKind::Screen,
    PrinterNotFoundNextScreen,
    kFinish | kTest,
    {.back = To(M::NetworkSelection), .next = ByMode(M::SecurityAdHoc, M::SecurityInfrastructure)}};
const State M::SearchingFromSecurity{
    "Map1::SearchingFromSecurity",
    11,
    EntryKind::Screen,
    SearchingScreen,
    kSearching,
    {.printerFound = ByMode(M::PrinterFoundFromSecurityAdHoc, M::PrinterFoundFromSecurityInfrastructure),
     .printerNotFound = ByMode(M::PrinterNotFoundFromSecurityAdHoc, M::PrinterNotFoundFromSecurityInfrastructure)}};
const State M::PrinterFoundFromSecurityAdHoc{"Map1::PrinterFoundFromSecurityAdHoc",
                                             12,
                                             EntryKind::Screen,
                                             PrinterFoundBackScreen,
                                             kTest | kNext,
                                             {.back = To(M::SecurityAdHoc), .finish = To(M::TerminalState)}};
const State M::PrinterFoundFromSecurityInfrastructure{
    "Map1::PrinterFoundFromSecurityInfrastructure",
    13,
    EntryKind::Screen,
    PrinterFoundNextScreen,
    kTest,
    {.back = To(M::SecurityInfrastructure), .finish = To(M::TerminalState), .next = To(M::IPAddressing)}};
const State M::PrinterNotFoundFromSecurityAdHoc{"Map1::PrinterNotFoundFromSecurityAdHoc",
                                                14,
                                                EntryKind::Screen,
                                                PrinterNotFoundBackScreen,
                                                kFinish | kTest | kNext,
                                                {.back = To(M::SecurityAdHoc)}};
const State M::PrinterNotFoundFromSecurityInfrastructure{
    "Map1::PrinterNotFoundFromSecurityInfrastructure",
    15,
    EntryKind::Screen,
    PrinterNotFoundNextScreen,
    kFinish | kTest,
    {.back = To(M::SecurityInfrastructure), .next = To(M::IPAddressing)}};
const State M::SearchingFromIPAddressing{
    "Map1::SearchingFromIPAddressing",
    16,
    EntryKind::Screen,
    SearchingScreen,
    kSearching,
    {.printerFound = To(M::PrinterFoundFromIPAddressing), .printerNotFound = To(M::PrinterNotFoundFromIPAddressing)}};
const State M::PrinterFoundFromIPAddressing{"Map1::PrinterFoundFromIPAddressing",
                                            17,
                                            EntryKind::Screen,
                                            PrinterFoundBackScreen,
                                            kTest | kNext,
                                            {.back = To(M::IPAddressing), .finish = To(M::TerminalState)}};
const State M::PrinterNotFoundFromIPAddressing{"Map1::PrinterNotFoundFromIPAddressing",
                                               18,
                                               EntryKind::Screen,
                                               PrinterNotFoundBackScreen,
                                               kFinish | kTest | kNext,
                                               {.back = To(M::IPAddressing)}};

}  // namespace StateMachinePartial

template class AssistantStateMachine<StateMachineFull::AssistantStateMachineFullContext, IStateMachineControllerFull>;
template class AssistantStateMachine<StateMachinePartial::AssistantStateMachinePartialContext, IStateMachineController>;
