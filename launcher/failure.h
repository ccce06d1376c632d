#pragma once
// Every failure the launcher raises derives from Failure: a kind name that
// the reports print, a message and the code address it was raised at.
#include <cstdint>

#include "launcher/text.h"

class Failure {
public:
    Failure(const char16_t* kindName, const char16_t* message, std::uintptr_t address = 0);
    virtual ~Failure() = default;

    TextView KindName() const { return kindName_; }
    TextView Message() const { return literal_ ? TextView(literal_) : TextView(owned_); }
    std::uintptr_t Address() const { return address_; }
    void SetAddress(std::uintptr_t address) { address_ = address; }

private:
    const char16_t* kindName_;
    // A literal where possible: reporting exhausted memory must not need any.
    const char16_t* literal_;
    Text owned_;
    std::uintptr_t address_;

protected:
    Failure(const char16_t* kindName, Text&& message, std::uintptr_t address);
};

// The exit codes of a run that a failure ended: during the run (reported on
// standard output or in the last-resort box), and during start-up.
constexpr std::uint32_t kExitFailure = 1;
constexpr std::uint32_t kExitStartupFailure = 217;

class OutOfMemory : public Failure {
public:
    explicit OutOfMemory(std::uintptr_t address = 0)
        : Failure(u"EOutOfMemory", u"Out of memory", address) {}
};

class OutOfResources : public Failure {
public:
    explicit OutOfResources(const char16_t* message, std::uintptr_t address = 0)
        : Failure(u"EOutOfResources", message, address) {}
};

class InOutError : public Failure {
public:
    InOutError(std::int32_t errorCode, const char16_t* message, std::uintptr_t address = 0)
        : Failure(u"EInOutError", message, address), ErrorCode(errorCode) {}
    InOutError(std::int32_t errorCode, Text&& message, std::uintptr_t address)
        : Failure(u"EInOutError", std::move(message), address), ErrorCode(errorCode) {}

    std::int32_t ErrorCode;
};

// The address of the instruction after the call to the function that uses
// it: where a failure raised there counts as raised.
#define CALLER_ADDRESS() reinterpret_cast<std::uintptr_t>(__builtin_return_address(0))

// An address in the code that calls it: where a failure that the language
// raised without one (memory exhausted) counts as raised.
std::uintptr_t CodeAddress();
