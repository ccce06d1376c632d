// The launcher these tests start is the release itself: the bytes of
// dist/ModLauncher.exe, running as a 32-bit x86 process. Where this machine
// runs no 32-bit code, that process runs under an emulator, and a build that
// quietly fell back to another program would otherwise pass every test.
#include <cstdint>
#include <cstring>

#include "harness.h"

namespace e2e {
namespace {

std::string MachineName(USHORT machine) {
    switch (machine) {
        case IMAGE_FILE_MACHINE_I386:
            return "i386";
        case IMAGE_FILE_MACHINE_AMD64:
            return "x86-64";
        default:
            return "machine " + std::to_string(machine);
    }
}

// The machine a program file is built for, from its PE header; nothing when
// the bytes are no PE file.
std::optional<USHORT> FileMachine(const std::string& bytes) {
    if (bytes.size() < 0x40 || bytes.compare(0, 2, "MZ") != 0) return std::nullopt;
    std::uint32_t peOffset = 0;
    std::memcpy(&peOffset, bytes.data() + 0x3C, sizeof peOffset);
    if (bytes.size() < std::size_t{peOffset} + 6 ||
        bytes.compare(peOffset, 4, std::string("PE\0\0", 4)) != 0)
        return std::nullopt;
    USHORT machine = 0;
    std::memcpy(&machine, bytes.data() + peOffset + 4, sizeof machine);
    return machine;
}

// The machine a running process's code is for.
std::optional<USHORT> ProcessMachine(HANDLE process) {
    using IsWow64Process2Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    const auto isWow64Process2 = reinterpret_cast<IsWow64Process2Fn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process2")));
    USHORT processMachine = 0;
    USHORT nativeMachine = 0;
    if (!isWow64Process2 || !isWow64Process2(process, &processMachine, &nativeMachine))
        return std::nullopt;
    // A process that runs on the system's own machine is reported as unknown.
    return processMachine != IMAGE_FILE_MACHINE_UNKNOWN ? processMachine : nativeMachine;
}

class ReleaseUnderTest : public E2eTest {};

TEST_F(ReleaseUnderTest, LauncherThatRunsIsTheReleaseAs32BitProcess) {
    const char* releasePath = std::getenv("MODLAUNCHER_RELEASE_EXE");
    ASSERT_TRUE(releasePath) << "MODLAUNCHER_RELEASE_EXE is not set (ctest sets it)";
    const std::wstring release = WindowsPath(releasePath);
    const std::optional<std::string> releaseBytes = ReadBytes(release);
    ASSERT_TRUE(releaseBytes) << Narrow(release) << " is missing";
    // In words, without the expressions: the bundle's report gives the
    // message to a maintainer who has no sources.
    if (FileMachine(*releaseBytes) != std::optional<USHORT>(IMAGE_FILE_MACHINE_I386))
        ADD_FAILURE() << Narrow(release) << " is not a 32-bit x86 program";

    GameTree& tree = LayTree();
    Process& launcher =
        StartLauncher(tree, L"", {{L"STANDIN_RUN_MS", std::to_wstring(kLongRunMs)}});
    ASSERT_TRUE(WaitForStandinReport(tree.Root())) << "the game was not started";
    ASSERT_TRUE(launcher.IsRunning()) << "the launcher ended before its game";

    // What the running launcher was loaded from, and its bytes.
    wchar_t image[MAX_PATH * 4];
    DWORD length = MAX_PATH * 4;
    ASSERT_TRUE(QueryFullProcessImageNameW(launcher.Handle(), 0, image, &length))
        << "no image name: error " << GetLastError();
    if (const ::testing::AssertionResult same =
            SameBytes(Narrow(image) + " (the running launcher's program file)", ReadBytes(image),
                      releaseBytes);
        !same)
        ADD_FAILURE() << "the launcher that ran is not the release " << Narrow(release) << ": "
                      << same.message();

    const std::optional<USHORT> machine = ProcessMachine(launcher.Handle());
    ASSERT_TRUE(machine) << "the launcher process's machine cannot be told: error "
                         << GetLastError();
    if (MachineName(*machine) != "i386")
        ADD_FAILURE() << "the launcher ran as an " << MachineName(*machine)
                      << " process, not as the 32-bit x86 (i386) one the release is";

    // For the test command's summary: what the end-to-end tests ran.
    if (!HasFailure())
        WriteBytes(WorkFolder() + L"\\launcher-under-test.txt",
                   Narrow(release) + ", " + std::to_string(releaseBytes->size()) +
                       " bytes, ran as an " + MachineName(*machine) + " process\n");
}

}  // namespace
}  // namespace e2e
