#include "platform/last_resort.h"

#include <windows.h>

#include <cstdio>

#include "platform/windows_platform.h"

namespace {

// Handed over by the program's entry, which knows the launcher.
ExitRoutine TheExitRoutine = nullptr;

// The exception code that a language exception offers to the platform.
constexpr DWORD kLanguageExceptionCode = 0x0EEDFADE;

// Offers the failure to the platform first, as any unhandled exception is.
// When the platform answers that it is not handled here, it is raised for
// real and the platform ends the process its own way.
void OfferToPlatform(std::uintptr_t address) {
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = kLanguageExceptionCode;
    record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
    record.ExceptionAddress = reinterpret_cast<void*>(address);
    CONTEXT context = {};
    ::RtlCaptureContext(&context);
    EXCEPTION_POINTERS pointers = {&record, &context};
    if (::UnhandledExceptionFilter(&pointers) == EXCEPTION_CONTINUE_SEARCH) {
        ::RaiseException(kLanguageExceptionCode, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    }
}

Text Hex8(std::uintptr_t value) {
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(value));
    return Text(digits, digits + 8);
}

Text FileNameOf(const wchar_t* path) {
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p; ++p) {
        if (*p == L'\\') name = p + 1;
    }
    return Text(reinterpret_cast<const char16_t*>(name));
}

// The "Application Error" box naming the failure, the module that holds its
// address and the offset there; then the exit routine with the code 1.
[[noreturn]] void ShowLastResortBox(TextView kindName, TextView message, bool withMessage,
                                    std::uintptr_t address) {
    wchar_t path[261] = {};
    std::uintptr_t offset = address - 0x1000;
    MEMORY_BASIC_INFORMATION memory = {};
    if (::VirtualQuery(reinterpret_cast<void*>(address), &memory, sizeof memory) &&
        memory.State == MEM_COMMIT &&
        ::GetModuleFileNameW(static_cast<HMODULE>(memory.AllocationBase), path, 261)) {
        offset = address - reinterpret_cast<std::uintptr_t>(memory.AllocationBase);
    } else {
        ::GetModuleFileNameW(nullptr, path, 261);
    }
    Text text = UnhandledFailureText(kindName, FileNameOf(path), offset, message, withMessage);
    ::MessageBoxW(nullptr, Wide(text), L"Application Error", MB_OK | MB_ICONERROR | MB_TASKMODAL);
    if (TheExitRoutine) TheExitRoutine(kExitFailure);
    ::ExitProcess(kExitFailure);  // not reached once the entry has handed its routine over
}

[[noreturn]] void ShowUnhandled(TextView kindName, TextView message, bool withMessage,
                                std::uintptr_t address) {
    OfferToPlatform(address);
    ShowLastResortBox(kindName, message, withMessage, address);
}

// A processor fault in the program (an access violation and the like) ends
// the run like a failure that no handler took, with the exit code 1, not
// through the platform's crash handling. The platform calls this filter as
// its own last step for an unhandled exception, so it is not offered again.
LONG WINAPI ReportPlatformFault(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    const auto address = reinterpret_cast<std::uintptr_t>(record.ExceptionAddress);
    const char16_t* kindName;
    char message[96];
    switch (record.ExceptionCode) {
        case EXCEPTION_ACCESS_VIOLATION: {
            const bool writing =
                record.NumberParameters >= 2 && record.ExceptionInformation[0] == 1;
            const auto target = record.NumberParameters >= 2 ? record.ExceptionInformation[1] : 0;
            kindName = u"EAccessViolation";
            std::snprintf(message, sizeof message,
                          "Access violation at address %08X. %s of address %08X",
                          static_cast<unsigned>(address), writing ? "Write" : "Read",
                          static_cast<unsigned>(target));
            break;
        }
        case EXCEPTION_INT_DIVIDE_BY_ZERO:
            kindName = u"EDivByZero";
            std::snprintf(message, sizeof message, "Division by zero");
            break;
        case EXCEPTION_STACK_OVERFLOW:
            return EXCEPTION_CONTINUE_SEARCH;  // no stack left to show a box on
        default:
            // Only errors; the program's own failures never arrive here.
            if ((record.ExceptionCode & 0xF0000000) != 0xC0000000) return EXCEPTION_CONTINUE_SEARCH;
            kindName = u"EExternalException";
            std::snprintf(message, sizeof message, "External exception %08X",
                          static_cast<unsigned>(record.ExceptionCode));
            break;
    }
    const Text text(message, message + std::char_traits<char>::length(message));
    ShowLastResortBox(kindName, text, true, address);
}

}  // namespace

Text UnhandledFailureText(TextView kindName, TextView moduleName, std::uintptr_t offset,
                          TextView message, bool withMessage) {
    Text text = u"Exception ";
    text += kindName;
    text += u" in module ";
    text += moduleName;
    text += u" at ";
    text += Hex8(offset);
    text += u".\r\n";
    if (withMessage) {
        text += message;
        if (!message.empty() && message.back() != u'.') text += u'.';
    }
    text += u"\r\n";
    return text;
}

void InstallPlatformFaultHandler(ExitRoutine exitRoutine) {
    TheExitRoutine = exitRoutine;
    ::SetUnhandledExceptionFilter(ReportPlatformFault);
}

void ReportUnhandledFailure(const Failure& failure) {
    ShowUnhandled(failure.KindName(), failure.Message(), true, failure.Address());
}

void ReportUnhandledForeignFailure(const char16_t* kindName, std::uintptr_t address) {
    ShowUnhandled(kindName, u"", false, address);
}

void ReportStartupFailure(const Failure& failure) {
    OfferToPlatform(failure.Address());
    char text[32];
    std::snprintf(text, sizeof text, "Runtime error 217 at %08X",
                  static_cast<unsigned>(failure.Address()));
    ::MessageBoxA(nullptr, text, "Error", MB_OK);
    ::ExitProcess(kExitStartupFailure);
}
