// The failure kinds that end a run, with their names and messages.
#include "launcher/failure.h"

#include <utility>

Failure::Failure(const char16_t* kindName, const char16_t* message, std::uintptr_t address)
    : kindName_(kindName), literal_(message), address_(address) {}

Failure::Failure(const char16_t* kindName, Text&& message, std::uintptr_t address)
    : kindName_(kindName), literal_(nullptr), owned_(std::move(message)), address_(address) {}

__attribute__((noinline)) std::uintptr_t CodeAddress() { return CALLER_ADDRESS(); }
