#include "AssistantStateMachine.h"

#include "Tessary/TSException.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using AssistantStates::Event;
namespace Full = StateMachineFull;
namespace Partial = StateMachinePartial;

const char* ButtonName(ButtonID button) {
    static const char* const names[] = {"Cancel", "Finish", "Test", "Back", "Next"};
    return names[button];
}

// Records what the machine asks of the wizard, in order.
class RecordingController : public IStateMachineControllerFull {
public:
    void DisplayScreen(StateMachineScreenID screen) override {
        log.push_back("display " + std::to_string(screen));
        if (failDisplay && *failDisplay == screen) {
            failDisplay.reset();
            TS_THROW(Tessary::TSRuntimeError, "pane failed");
        }
    }
    void DisableButton(ButtonID button) override { log.push_back(std::string("disable ") + ButtonName(button)); }
    bool CommitScreen() override {
        log.push_back("commit");
        if (onCommit) onCommit();
        return commits;
    }
    void CloseWizard() override { log.push_back("close"); }
    const Profile& GetProfile() const override { return profile; }
    void CommitProfile() override {
        log.push_back("commitProfile");
        if (failCommitProfile) TS_THROW(Tessary::TSRuntimeError, "printer unreachable");
    }
    void SetMode(WiFiMode mode) { profile.GetWiFiSettings().SetMode(mode); }

    std::vector<std::string> log;
    bool commits = true;
    bool failCommitProfile = false;
    std::optional<int> failDisplay;  // this screen fails once
    std::function<void()> onCommit;
    Profile profile;
};

enum class Kind { Full, Partial };

// What entering a state shows: a screen with buttons disabled, or no
// screen (-1) for the decision and terminal states.
struct StateInfo {
    const char* name;
    const AssistantStates::State* state;
    int screen;
    std::vector<std::string> disabled;
};

const std::vector<StateInfo>& States(Kind kind) {
    static const std::vector<StateInfo> full = {
        {"Welcome", &Full::Map1::Welcome, 0, {"Finish", "Test", "Back"}},
        {"ProfileSelection", &Full::Map1::ProfileSelection, 1, {"Finish", "Test"}},
        {"DockName", &Full::Map1::DockName, 2, {"Finish", "Test"}},
        {"NetworkSelection", &Full::Map1::NetworkSelection, 3, {}},
        {"SecurityEntryPoint", &Full::Map1::SecurityEntryPoint, -1, {}},
        {"SecurityAdHoc", &Full::Map1::SecurityAdHoc, 9, {"Next"}},
        {"SecurityInfrastructure", &Full::Map1::SecurityInfrastructure, 9, {}},
        {"IPAddressing", &Full::Map1::IPAddressing, 10, {}},
        {"ProfileUpdated", &Full::Map1::ProfileUpdated, 11, {"Test", "Back"}},
        {"TerminalState", &Full::Map1::TerminalState, -1, {}},
        {"SearchingFromNetworkSelection",
         &Full::Map1::SearchingFromNetworkSelection,
         4,
         {"Finish", "Test", "Back", "Next"}},
        {"PrinterFoundFromNetworkSelection", &Full::Map1::PrinterFoundFromNetworkSelection, 5, {"Test"}},
        {"PrinterNotFoundFromNetworkSelection",
         &Full::Map1::PrinterNotFoundFromNetworkSelection,
         7,
         {"Finish", "Test"}},
        {"SearchingFromSecurity", &Full::Map1::SearchingFromSecurity, 4, {"Finish", "Test", "Back", "Next"}},
        {"PrinterFoundFromSecurity", &Full::Map1::PrinterFoundFromSecurity, 5, {"Test"}},
        {"PrinterNotFoundFromSecurity", &Full::Map1::PrinterNotFoundFromSecurity, 7, {"Finish", "Test"}},
        {"SearchingFromIPAddressing", &Full::Map1::SearchingFromIPAddressing, 4, {"Finish", "Test", "Back", "Next"}},
        {"PrinterFoundFromIPAddressing", &Full::Map1::PrinterFoundFromIPAddressing, 5, {"Test", "Next"}},
        {"PrinterNotFoundFromIPAddressing", &Full::Map1::PrinterNotFoundFromIPAddressing, 7, {"Test", "Next"}},
    };
    static const std::vector<StateInfo> partial = {
        {"Welcome", &Partial::Map1::Welcome, 0, {"Finish", "Test", "Back"}},
        {"DockName", &Partial::Map1::DockName, 2, {"Finish", "Test"}},
        {"NetworkSelection", &Partial::Map1::NetworkSelection, 3, {}},
        {"SecurityEntryPoint", &Partial::Map1::SecurityEntryPoint, -1, {}},
        {"SecurityAdHoc", &Partial::Map1::SecurityAdHoc, 9, {"Next"}},
        {"SecurityInfrastructure", &Partial::Map1::SecurityInfrastructure, 9, {}},
        {"IPAddressing", &Partial::Map1::IPAddressing, 10, {"Next"}},
        {"TerminalState", &Partial::Map1::TerminalState, -1, {}},
        {"SearchingFromNetworkSelection",
         &Partial::Map1::SearchingFromNetworkSelection,
         4,
         {"Finish", "Test", "Back", "Next"}},
        {"PrinterFoundFromNetworkSelection", &Partial::Map1::PrinterFoundFromNetworkSelection, 5, {"Test"}},
        {"PrinterNotFoundFromNetworkSelection",
         &Partial::Map1::PrinterNotFoundFromNetworkSelection,
         7,
         {"Finish", "Test"}},
        {"SearchingFromSecurity", &Partial::Map1::SearchingFromSecurity, 4, {"Finish", "Test", "Back", "Next"}},
        {"PrinterFoundFromSecurityAdHoc", &Partial::Map1::PrinterFoundFromSecurityAdHoc, 6, {"Test", "Next"}},
        {"PrinterFoundFromSecurityInfrastructure", &Partial::Map1::PrinterFoundFromSecurityInfrastructure, 5, {"Test"}},
        {"PrinterNotFoundFromSecurityAdHoc",
         &Partial::Map1::PrinterNotFoundFromSecurityAdHoc,
         8,
         {"Finish", "Test", "Next"}},
        {"PrinterNotFoundFromSecurityInfrastructure",
         &Partial::Map1::PrinterNotFoundFromSecurityInfrastructure,
         7,
         {"Finish", "Test"}},
        {"SearchingFromIPAddressing", &Partial::Map1::SearchingFromIPAddressing, 4, {"Finish", "Test", "Back", "Next"}},
        {"PrinterFoundFromIPAddressing", &Partial::Map1::PrinterFoundFromIPAddressing, 6, {"Test", "Next"}},
        {"PrinterNotFoundFromIPAddressing",
         &Partial::Map1::PrinterNotFoundFromIPAddressing,
         8,
         {"Finish", "Test", "Next"}},
    };
    return kind == Kind::Full ? full : partial;
}

const StateInfo& Info(Kind kind, const std::string& name) {
    for (const auto& info : States(kind)) {
        if (name == info.name) return info;
    }
    throw std::logic_error("no state " + name);
}

// One machine of either kind over a recording controller.
class Rig {
public:
    explicit Rig(Kind kind) {
        if (kind == Kind::Full) {
            auto machine = std::make_unique<Full::AssistantStateMachineFull>(controller);
            context = &machine->GetContext();
            current = [m = machine.get()] { return std::string(m->GetState().GetName()); };
            screen = [m = machine.get()] { return m->GetCurrentScreenId(); };
            this->machine = std::move(machine);
        } else {
            auto machine = std::make_unique<Partial::AssistantStateMachinePartial>(controller);
            context = &machine->GetContext();
            current = [m = machine.get()] { return std::string(m->GetState().GetName()); };
            screen = [m = machine.get()] { return m->GetCurrentScreenId(); };
            this->machine = std::move(machine);
        }
    }
    Rig(const Rig&) = delete;

    // Puts the machine in a state without running anything.
    void Place(const AssistantStates::State& state) {
        context->SetState(state);
        controller.log.clear();
    }
    void Fire(Event event) {
        switch (event) {
            case Event::Back:
                return machine->Back();
            case Event::Finish:
                return machine->Finish();
            case Event::Next:
                return machine->Next();
            case Event::PrinterFound:
                return machine->PrinterFound();
            case Event::PrinterNotFound:
                return machine->PrinterNotFound();
            case Event::Test:
                return machine->Test();
        }
    }

    RecordingController controller;
    std::unique_ptr<IAssistantStateMachine> machine;
    statemap::FSMContext* context = nullptr;
    std::function<std::string()> current;
    std::function<int()> screen;
};

enum class Mode { Infrastructure, AdHoc };

struct TransitionCase {
    Kind kind;
    const char* from;
    Event event;
    Mode mode;
    const char* to;
};

constexpr Mode I = Mode::Infrastructure;
constexpr Mode A = Mode::AdHoc;
constexpr Kind F = Kind::Full;
constexpr Kind P = Kind::Partial;

// Every defined transition of both machines; guarded ones once per mode.
const std::vector<TransitionCase> kTransitions = {
    {F, "Welcome", Event::Next, I, "ProfileSelection"},
    {F, "ProfileSelection", Event::Back, I, "Welcome"},
    {F, "ProfileSelection", Event::Next, I, "DockName"},
    {F, "DockName", Event::Back, I, "ProfileSelection"},
    {F, "DockName", Event::Next, I, "NetworkSelection"},
    {F, "NetworkSelection", Event::Back, I, "DockName"},
    {F, "NetworkSelection", Event::Next, A, "SecurityAdHoc"},
    {F, "NetworkSelection", Event::Next, I, "SecurityInfrastructure"},
    {F, "NetworkSelection", Event::Finish, I, "ProfileUpdated"},
    {F, "NetworkSelection", Event::Test, I, "SearchingFromNetworkSelection"},
    {F, "SecurityEntryPoint", Event::Next, A, "SecurityAdHoc"},
    {F, "SecurityEntryPoint", Event::Next, I, "SecurityInfrastructure"},
    {F, "SecurityAdHoc", Event::Back, I, "NetworkSelection"},
    {F, "SecurityAdHoc", Event::Finish, I, "ProfileUpdated"},
    {F, "SecurityAdHoc", Event::Test, I, "SearchingFromSecurity"},
    {F, "SecurityInfrastructure", Event::Back, I, "NetworkSelection"},
    {F, "SecurityInfrastructure", Event::Next, I, "IPAddressing"},
    {F, "SecurityInfrastructure", Event::Finish, I, "ProfileUpdated"},
    {F, "SecurityInfrastructure", Event::Test, I, "SearchingFromSecurity"},
    {F, "IPAddressing", Event::Back, A, "SecurityAdHoc"},
    {F, "IPAddressing", Event::Back, I, "SecurityInfrastructure"},
    {F, "IPAddressing", Event::Next, I, "ProfileUpdated"},
    {F, "IPAddressing", Event::Finish, I, "ProfileUpdated"},
    {F, "IPAddressing", Event::Test, I, "SearchingFromIPAddressing"},
    {F, "ProfileUpdated", Event::Next, I, "ProfileSelection"},
    {F, "ProfileUpdated", Event::Finish, I, "TerminalState"},
    {F, "SearchingFromNetworkSelection", Event::PrinterFound, I, "PrinterFoundFromNetworkSelection"},
    {F, "SearchingFromNetworkSelection", Event::PrinterNotFound, I, "PrinterNotFoundFromNetworkSelection"},
    {F, "PrinterFoundFromNetworkSelection", Event::Back, I, "NetworkSelection"},
    {F, "PrinterFoundFromNetworkSelection", Event::Next, A, "SecurityAdHoc"},
    {F, "PrinterFoundFromNetworkSelection", Event::Next, I, "SecurityInfrastructure"},
    {F, "PrinterFoundFromNetworkSelection", Event::Finish, I, "ProfileUpdated"},
    {F, "PrinterNotFoundFromNetworkSelection", Event::Back, I, "NetworkSelection"},
    {F, "PrinterNotFoundFromNetworkSelection", Event::Next, A, "SecurityAdHoc"},
    {F, "PrinterNotFoundFromNetworkSelection", Event::Next, I, "SecurityInfrastructure"},
    {F, "SearchingFromSecurity", Event::PrinterFound, I, "PrinterFoundFromSecurity"},
    {F, "SearchingFromSecurity", Event::PrinterNotFound, I, "PrinterNotFoundFromSecurity"},
    {F, "PrinterFoundFromSecurity", Event::Back, A, "SecurityAdHoc"},
    {F, "PrinterFoundFromSecurity", Event::Back, I, "SecurityInfrastructure"},
    {F, "PrinterFoundFromSecurity", Event::Next, I, "IPAddressing"},
    {F, "PrinterFoundFromSecurity", Event::Finish, I, "ProfileUpdated"},
    {F, "PrinterNotFoundFromSecurity", Event::Back, A, "SecurityAdHoc"},
    {F, "PrinterNotFoundFromSecurity", Event::Back, I, "SecurityInfrastructure"},
    {F, "PrinterNotFoundFromSecurity", Event::Next, I, "IPAddressing"},
    {F, "SearchingFromIPAddressing", Event::PrinterFound, I, "PrinterFoundFromIPAddressing"},
    {F, "SearchingFromIPAddressing", Event::PrinterNotFound, I, "PrinterNotFoundFromIPAddressing"},
    {F, "PrinterFoundFromIPAddressing", Event::Back, I, "IPAddressing"},
    {F, "PrinterFoundFromIPAddressing", Event::Finish, I, "ProfileUpdated"},
    {F, "PrinterNotFoundFromIPAddressing", Event::Back, I, "IPAddressing"},
    {F, "PrinterNotFoundFromIPAddressing", Event::Finish, I, "ProfileUpdated"},

    {P, "Welcome", Event::Next, I, "DockName"},
    {P, "DockName", Event::Back, I, "Welcome"},
    {P, "DockName", Event::Next, I, "NetworkSelection"},
    {P, "NetworkSelection", Event::Back, I, "DockName"},
    {P, "NetworkSelection", Event::Next, A, "SecurityAdHoc"},
    {P, "NetworkSelection", Event::Next, I, "SecurityInfrastructure"},
    {P, "NetworkSelection", Event::Finish, I, "TerminalState"},
    {P, "NetworkSelection", Event::Test, I, "SearchingFromNetworkSelection"},
    {P, "SecurityEntryPoint", Event::Next, A, "SecurityAdHoc"},
    {P, "SecurityEntryPoint", Event::Next, I, "SecurityInfrastructure"},
    {P, "SecurityAdHoc", Event::Back, I, "NetworkSelection"},
    {P, "SecurityAdHoc", Event::Finish, I, "TerminalState"},
    {P, "SecurityAdHoc", Event::Test, I, "SearchingFromSecurity"},
    {P, "SecurityInfrastructure", Event::Back, I, "NetworkSelection"},
    {P, "SecurityInfrastructure", Event::Next, I, "IPAddressing"},
    {P, "SecurityInfrastructure", Event::Finish, I, "TerminalState"},
    {P, "SecurityInfrastructure", Event::Test, I, "SearchingFromSecurity"},
    {P, "IPAddressing", Event::Back, I, "SecurityInfrastructure"},
    {P, "IPAddressing", Event::Finish, I, "TerminalState"},
    {P, "IPAddressing", Event::Test, I, "SearchingFromIPAddressing"},
    {P, "SearchingFromNetworkSelection", Event::PrinterFound, I, "PrinterFoundFromNetworkSelection"},
    {P, "SearchingFromNetworkSelection", Event::PrinterNotFound, I, "PrinterNotFoundFromNetworkSelection"},
    {P, "PrinterFoundFromNetworkSelection", Event::Back, I, "NetworkSelection"},
    {P, "PrinterFoundFromNetworkSelection", Event::Next, A, "SecurityAdHoc"},
    {P, "PrinterFoundFromNetworkSelection", Event::Next, I, "SecurityInfrastructure"},
    {P, "PrinterFoundFromNetworkSelection", Event::Finish, I, "TerminalState"},
    {P, "PrinterNotFoundFromNetworkSelection", Event::Back, I, "NetworkSelection"},
    {P, "PrinterNotFoundFromNetworkSelection", Event::Next, A, "SecurityAdHoc"},
    {P, "PrinterNotFoundFromNetworkSelection", Event::Next, I, "SecurityInfrastructure"},
    {P, "SearchingFromSecurity", Event::PrinterFound, A, "PrinterFoundFromSecurityAdHoc"},
    {P, "SearchingFromSecurity", Event::PrinterFound, I, "PrinterFoundFromSecurityInfrastructure"},
    {P, "SearchingFromSecurity", Event::PrinterNotFound, A, "PrinterNotFoundFromSecurityAdHoc"},
    {P, "SearchingFromSecurity", Event::PrinterNotFound, I, "PrinterNotFoundFromSecurityInfrastructure"},
    {P, "PrinterFoundFromSecurityAdHoc", Event::Back, I, "SecurityAdHoc"},
    {P, "PrinterFoundFromSecurityAdHoc", Event::Finish, I, "TerminalState"},
    {P, "PrinterFoundFromSecurityInfrastructure", Event::Back, I, "SecurityInfrastructure"},
    {P, "PrinterFoundFromSecurityInfrastructure", Event::Next, I, "IPAddressing"},
    {P, "PrinterFoundFromSecurityInfrastructure", Event::Finish, I, "TerminalState"},
    {P, "PrinterNotFoundFromSecurityAdHoc", Event::Back, I, "SecurityAdHoc"},
    {P, "PrinterNotFoundFromSecurityInfrastructure", Event::Back, I, "SecurityInfrastructure"},
    {P, "PrinterNotFoundFromSecurityInfrastructure", Event::Next, I, "IPAddressing"},
    {P, "SearchingFromIPAddressing", Event::PrinterFound, I, "PrinterFoundFromIPAddressing"},
    {P, "SearchingFromIPAddressing", Event::PrinterNotFound, I, "PrinterNotFoundFromIPAddressing"},
    {P, "PrinterFoundFromIPAddressing", Event::Back, I, "IPAddressing"},
    {P, "PrinterFoundFromIPAddressing", Event::Finish, I, "TerminalState"},
    {P, "PrinterNotFoundFromIPAddressing", Event::Back, I, "IPAddressing"},
};

const std::vector<Event> kEvents = {Event::Back,         Event::Finish,          Event::Next,
                                    Event::PrinterFound, Event::PrinterNotFound, Event::Test};

// What entering `to` asks of the controller.
std::vector<std::string> EntryLog(Kind kind, const std::string& to) {
    const StateInfo& info = Info(kind, to);
    std::vector<std::string> log;
    if (to == "ProfileUpdated") log.push_back("commitProfile");
    if (to == "TerminalState") log.push_back("close");
    if (info.screen >= 0) {
        log.push_back("display " + std::to_string(info.screen));
        for (const auto& button : info.disabled) log.push_back("disable " + button);
    }
    return log;
}

bool RestsOnAScreen(const std::string& state) {
    return state != "SecurityEntryPoint" && state != "TerminalState";
}

class TransitionWalk : public ::testing::TestWithParam<TransitionCase> {};

TEST_P(TransitionWalk, ExitsCommitsEntersAndShows) {
    const TransitionCase& c = GetParam();
    Rig rig(c.kind);
    rig.controller.SetMode(c.mode == Mode::AdHoc ? WIFI_MODE_ADHOC : WIFI_MODE_INFRASTRUCTURE);
    rig.Place(*Info(c.kind, c.from).state);

    rig.Fire(c.event);
    EXPECT_EQ(rig.current(), std::string("Map1::") + c.to);
    std::vector<std::string> expected;
    if (RestsOnAScreen(c.from)) expected.push_back("commit");
    const auto entry = EntryLog(c.kind, c.to);
    expected.insert(expected.end(), entry.begin(), entry.end());
    EXPECT_EQ(rig.controller.log, expected);
    if (Info(c.kind, c.to).screen >= 0) {
        EXPECT_EQ(rig.screen(), Info(c.kind, c.to).screen);
    }
}

TEST_P(TransitionWalk, ARefusedCommitKeepsTheStateAndItsScreen) {
    const TransitionCase& c = GetParam();
    Rig rig(c.kind);
    rig.controller.SetMode(c.mode == Mode::AdHoc ? WIFI_MODE_ADHOC : WIFI_MODE_INFRASTRUCTURE);
    rig.Place(*Info(c.kind, c.from).state);
    rig.controller.commits = false;
    if (!RestsOnAScreen(c.from)) {
        // The decision state has no screen of its own to commit.
        rig.Fire(c.event);
        EXPECT_EQ(rig.current(), std::string("Map1::") + c.to);
        EXPECT_EQ(rig.controller.log, EntryLog(c.kind, c.to));
        return;
    }

    EXPECT_THROW(rig.Fire(c.event), TransitionNotAllowedException);
    EXPECT_EQ(rig.current(), std::string("Map1::") + c.from);
    EXPECT_EQ(rig.controller.log, std::vector<std::string>{"commit"});
}

std::string EventText(Event event) {
    return AssistantStates::EventName(event);
}

INSTANTIATE_TEST_SUITE_P(BothMachines, TransitionWalk, ::testing::ValuesIn(kTransitions),
                         [](const ::testing::TestParamInfo<TransitionCase>& info) {
                             const TransitionCase& c = info.param;
                             std::string name = c.kind == Kind::Full ? "Full_" : "Partial_";
                             name += std::string(c.from) + "_" + EventText(c.event);
                             if (c.mode == Mode::AdHoc) name += "_AdHoc";
                             // Guarded cases appear once per mode.
                             for (const auto& other : kTransitions) {
                                 if (&other != &c && other.kind == c.kind && std::string(other.from) == c.from &&
                                     other.event == c.event && c.mode == Mode::Infrastructure) {
                                     name += "_Infrastructure";
                                     break;
                                 }
                             }
                             return name;
                         });

TEST(AssistantStateMachineTest, StatesCarryTheirMachineNamesAndIds) {
    for (Kind kind : {Kind::Full, Kind::Partial}) {
        const auto& states = States(kind);
        ASSERT_EQ(states.size(), 19u);
        for (std::size_t id = 0; id < states.size(); ++id) {
            EXPECT_EQ(std::string(states[id].state->GetName()), std::string("Map1::") + states[id].name);
            EXPECT_EQ(states[id].state->GetId(), static_cast<int>(id)) << states[id].name;
        }
    }
}

TEST(AssistantStateMachineTest, UndefinedEventsThrowAndLeaveTheStateAlone) {
    for (Kind kind : {Kind::Full, Kind::Partial}) {
        std::set<std::pair<std::string, Event>> defined;
        for (const auto& c : kTransitions) {
            if (c.kind == kind) defined.insert({c.from, c.event});
        }
        for (const auto& info : States(kind)) {
            for (Event event : kEvents) {
                if (defined.contains({info.name, event})) continue;
                Rig rig(kind);
                rig.Place(*info.state);
                try {
                    rig.Fire(event);
                    ADD_FAILURE() << info.name << " took " << EventText(event);
                } catch (const statemap::TransitionUndefinedException& e) {
                    EXPECT_EQ(e.GetState(), std::string("Map1::") + info.name);
                    EXPECT_EQ(e.GetTransition(), EventText(event));
                }
                EXPECT_EQ(rig.current(), std::string("Map1::") + info.name);
                EXPECT_TRUE(rig.controller.log.empty()) << info.name << " " << EventText(event);
            }
        }
    }
}

TEST(AssistantStateMachineTest, ANewMachineShowsTheWelcomeScreen) {
    for (Kind kind : {Kind::Full, Kind::Partial}) {
        Rig rig(kind);
        EXPECT_EQ(rig.current(), "Map1::Welcome");
        EXPECT_EQ(rig.screen(), 0);
        EXPECT_EQ(rig.controller.log,
                  (std::vector<std::string>{"display 0", "disable Finish", "disable Test", "disable Back"}));
    }
}

TEST(AssistantStateMachineTest, TheSecurityScreenFollowsTheModeTheNetworkScreenCommitted) {
    for (Kind kind : {Kind::Full, Kind::Partial}) {
        Rig rig(kind);
        rig.Place(*Info(kind, "NetworkSelection").state);
        // The user ticked the ad-hoc box: the profile turns ad-hoc only when
        // the network screen commits, on the way out.
        rig.controller.onCommit = [&] { rig.controller.SetMode(WIFI_MODE_ADHOC); };
        rig.machine->Next();
        EXPECT_EQ(rig.current(), "Map1::SecurityAdHoc");
    }
}

TEST(AssistantStateMachineTest, AFailedProfileCommitReturnsToTheScreenLeft) {
    Rig rig(Kind::Full);
    rig.Place(Full::Map1::IPAddressing);
    rig.controller.failCommitProfile = true;
    EXPECT_THROW(rig.machine->Next(), Tessary::TSRuntimeError);
    EXPECT_EQ(rig.current(), "Map1::IPAddressing");
    EXPECT_EQ(rig.screen(), 10);
    EXPECT_EQ(rig.controller.log, (std::vector<std::string>{"commit", "commitProfile", "display 10"}));

    rig.controller.failCommitProfile = false;
    rig.controller.log.clear();
    rig.machine->Finish();
    EXPECT_EQ(rig.current(), "Map1::ProfileUpdated");

    // Leaving the profile-updated screen for one that fails shows it again
    // without sending the profile a second time.
    rig.controller.failDisplay = ProfileSelectionScreen;
    rig.controller.log.clear();
    EXPECT_THROW(rig.machine->Next(), Tessary::TSRuntimeError);
    EXPECT_EQ(rig.current(), "Map1::ProfileUpdated");
    EXPECT_EQ(rig.controller.log,
              (std::vector<std::string>{"commit", "display 1", "display 11", "disable Test", "disable Back"}));
}

TEST(AssistantStateMachineTest, AScreenThatFailsBehindTheDecisionStateReturnsToTheNetworkScreen) {
    Rig rig(Kind::Partial);
    rig.Place(Partial::Map1::NetworkSelection);
    rig.controller.failDisplay = SecurityScreen;
    EXPECT_THROW(rig.machine->Next(), Tessary::TSRuntimeError);
    EXPECT_EQ(rig.current(), "Map1::NetworkSelection");
    EXPECT_EQ(rig.controller.log, (std::vector<std::string>{"commit", "display 9", "display 3"}));
}

TEST(AssistantStateMachineTest, TheTraceNamesEachTransitionAndNewState) {
    Rig rig(Kind::Partial);
    std::ostringstream trace;
    rig.context->SetDebugStream(trace);
    rig.context->SetDebugFlag(1);
    rig.machine->Next();
    EXPECT_THROW(rig.machine->Finish(), statemap::TransitionUndefinedException);
    EXPECT_EQ(trace.str(), "TRANSITION   : Map1 Next()\nNEW STATE    : Map1::DockName\nTRANSITION   : Default\n");
    EXPECT_EQ(rig.context->GetTransition(), "") << "the event's name is kept only while it is handled";
    EXPECT_EQ(rig.context->GetPreviousState(), &Partial::Map1::Welcome);
}

TEST(StateMapTest, AContextWithoutAStateAndAStateWithoutAName) {
    statemap::FSMContext context;
    EXPECT_THROW(context.GetState(), statemap::StateUndefinedException);
    const statemap::State unnamed(nullptr, 7);
    EXPECT_STREQ(unnamed.GetName(), "NAME NOT SET");
    context.SetState(unnamed);
    EXPECT_EQ(context.GetState().GetId(), 7);
}

}  // namespace
