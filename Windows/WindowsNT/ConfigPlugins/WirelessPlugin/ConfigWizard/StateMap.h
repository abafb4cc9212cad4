// The small runtime under the wizard's state machines: named, numbered
// states, the context that holds the current one, and the exceptions of
// events that cannot be taken.
#pragma once

#include <iosfwd>
#include <stdexcept>
#include <string>

namespace statemap {

class State {
public:
    // A null name is kept as "NAME NOT SET".
    State(const char* name, int stateId);
    virtual ~State();
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    const char* GetName() const { return name_.c_str(); }
    int GetId() const { return id_; }

private:
    std::string name_;
    int id_;
};

class StateMapException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An event arrived while the context had no current state.
class StateUndefinedException : public StateMapException {
public:
    StateUndefinedException();
};

// The current state has no transition for the event.
class TransitionUndefinedException : public StateMapException {
public:
    TransitionUndefinedException(const std::string& state, const std::string& transition);
    const std::string& GetState() const { return state_; }
    const std::string& GetTransition() const { return transition_; }

private:
    std::string state_;
    std::string transition_;
};

// Holds the current state (states are static objects, never owned here)
// and the optional trace of transitions.
class FSMContext {
public:
    FSMContext();
    virtual ~FSMContext();
    FSMContext(const FSMContext&) = delete;
    FSMContext& operator=(const FSMContext&) = delete;

    // StateUndefinedException when there is none.
    const State& GetState() const;
    // The state before the last SetState, or null.
    const State* GetPreviousState() const { return previous_; }
    // With the debug flag 1, writes "NEW STATE    : <name>".
    void SetState(const State& state);

    // Tracing: 1 writes the transitions taken to the debug stream (standard
    // error unless set); any other value writes nothing.
    int GetDebugFlag() const { return debugFlag_; }
    void SetDebugFlag(int flag) { debugFlag_ = flag; }
    std::ostream& GetDebugStream() const { return *debugStream_; }
    void SetDebugStream(std::ostream& stream) { debugStream_ = &stream; }
    // The event being handled, kept only while tracing; empty otherwise.
    const std::string& GetTransition() const { return transition_; }
    void SetTransition(const char* name) { transition_ = name ? name : ""; }

private:
    const State* state_ = nullptr;
    const State* previous_ = nullptr;
    std::string transition_;
    int debugFlag_ = 0;
    std::ostream* debugStream_;
};

}  // namespace statemap
