#pragma once
// Runs a clean-up on leaving a scope, however it is left, unless dismissed:
// the undo of a step that an early return or a failure must not leave behind.
#include <utility>

template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F action) : action_(std::move(action)) {}
    ~ScopeExit() {
        if (armed_) action_();
    }
    // One owner of the clean-up, or it would run twice.
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    // The step is to stay: nothing is undone.
    void Dismiss() { armed_ = false; }

private:
    F action_;
    bool armed_ = true;
};
