#include "StateMap.h"

#include <iostream>

namespace statemap {

State::State(const char* name, int stateId) : name_(name ? name : "NAME NOT SET"), id_(stateId) {}

State::~State() = default;

StateUndefinedException::StateUndefinedException() : StateMapException("State undefined") {}

TransitionUndefinedException::TransitionUndefinedException(const std::string& state, const std::string& transition)
    : StateMapException("Transition undefined: " + transition + " in state " + state),
      state_(state),
      transition_(transition) {}

FSMContext::FSMContext() : debugStream_(&std::cerr) {}

FSMContext::~FSMContext() = default;

const State& FSMContext::GetState() const {
    if (state_ == nullptr) throw StateUndefinedException();
    return *state_;
}

void FSMContext::SetState(const State& state) {
    previous_ = state_;
    state_ = &state;
    if (debugFlag_ == 1) *debugStream_ << "NEW STATE    : " << state.GetName() << std::endl;
}

}  // namespace statemap
