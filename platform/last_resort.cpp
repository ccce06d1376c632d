#include "platform/last_resort.h"

#include <windows.h>

#include <cstdio>

#include "launcher/sequence.h"
#include "platform/windows_platform.h"

namespace {

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

[[noreturn]] void ShowUnhandled(TextView kindName, TextView message, bool withMessage,
                                std::uintptr_t address) {
    OfferToPlatform(address);
    // The module that holds the address, or the program's own.
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
    ExitProgram(kExitFailure);
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
