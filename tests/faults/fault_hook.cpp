// The fault hook of the program's test variant. MODLAUNCHER_FAULT names the
// point to fail at; the failure is EOutOfMemory unless MODLAUNCHER_FAULT_MESSAGE
// gives the message of a failure of the kind ETestFailure instead, or
// MODLAUNCHER_FAULT_ACCESS_VIOLATION asks for a processor fault.
#include "launcher/fault_hook.h"

#include <cstdlib>
#include <cstring>

#include "launcher/failure.h"

namespace {

class TestFailure : public Failure {
public:
    TestFailure(Text message, std::uintptr_t address)
        : Failure(u"ETestFailure", std::move(message), address) {}
};

}  // namespace

bool FaultRequested(const char* name) {
    const char* requested = std::getenv("MODLAUNCHER_FAULT");
    return requested && std::strcmp(requested, name) == 0;
}

void FaultPoint(const char* name) {
    if (!FaultRequested(name)) return;
    if (std::getenv("MODLAUNCHER_FAULT_ACCESS_VIOLATION")) {
        // A write through a null pointer the compiler cannot see coming.
        volatile int* volatile target = nullptr;
        *target = 1;  // NOLINT(clang-analyzer-core.NullDereference): the fault asked for
    }
    if (const wchar_t* message = _wgetenv(L"MODLAUNCHER_FAULT_MESSAGE")) {
        throw TestFailure(Text(reinterpret_cast<const char16_t*>(message)), CALLER_ADDRESS());
    }
    throw OutOfMemory(CALLER_ADDRESS());
}
