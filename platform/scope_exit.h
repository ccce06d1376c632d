#pragma once
// Runs a clean-up when a scope is left, by return or by exception, unless it
// was dismissed first: a start made of several steps undoes the earlier ones
// when a later one raises, and keeps them once all have succeeded.
#include <utility>

template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F action) : action_(std::move(action)) {}
    ~ScopeExit() {
        if (armed_) action_();
    }
    // One owner of the clean-up: a copy would run it twice.
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

    // The work is kept: the clean-up will not run.
    void Dismiss() noexcept { armed_ = false; }

private:
    F action_;
    bool armed_ = true;
};
