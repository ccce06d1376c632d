// What a failure leaves for the player or a calling program to see: the
// report line on a file or a pipe, the box shown when there is no standard
// output, the box of a failed start-up, and a failure inside the hidden
// window's procedure. The test build of the program fails on request.
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "harness.h"

namespace e2e {
namespace {

const std::wstring kFaultsName = L"ModLauncherFaults.exe";
// Longer than a small output buffer: a line that would go out in pieces.
constexpr size_t kLongLine = 128;

using Env = std::vector<std::pair<std::wstring, std::wstring>>;

// The test build under its own name, with both archives in place.
GameLayout FaultsLayout() {
    GameLayout layout;
    layout.launcherSource = FaultsLauncherExe();
    layout.launcherName = kFaultsName;
    layout.gameArchive = "G";
    layout.modArchive = "M";
    return layout;
}

// Printable ASCII as it is, every other byte as \xNN.
std::string Escaped(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
            continue;
        }
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02X", c);
        out += hex;
    }
    return out;
}

// Equal bytes; otherwise the sizes and a short look at where they part.
::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
    if (actual == expected) return ::testing::AssertionSuccess();
    size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
    return ::testing::AssertionFailure()
           << actual.size() << " bytes, expected " << expected.size() << "; from byte " << at
           << ": \"" << Escaped(actual.substr(at, 24)) << "\", expected \""
           << Escaped(expected.substr(at, 24)) << "\"";
}

// Why a box that should have appeared may not have: the crash debugger
// that a machine has registered is the usual cause.
std::string NoBox() {
    const std::string debugger = CrashDebugger();
    return "the launcher showed no box within " + std::to_string(kStartTimeoutMs / 1000) + " s" +
           (debugger.empty() ? ""
                             : "; the crash debugger registered here, " + debugger +
                                   ", may have taken its failure");
}

bool IsUpperHex8(const std::wstring& text) {
    return text.size() == 8 && text.find_first_not_of(L"0123456789ABCDEF") == std::wstring::npos;
}

struct ModuleRange {
    std::uintptr_t base = 0;
    DWORD size = 0;
};

// Where the process's program file is loaded (the first module listed).
std::optional<ModuleRange> ProgramModuleOf(DWORD pid) {
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid));
    MODULEENTRY32W module{};
    module.dwSize = sizeof module;
    if (snapshot && Module32FirstW(snapshot.get(), &module) &&
        _wcsicmp(module.szModule, kFaultsName.c_str()) == 0)
        return ModuleRange{reinterpret_cast<std::uintptr_t>(module.modBaseAddr),
                           module.modBaseSize};
    // A 64-bit driver is shown no module of a 32-bit launcher: the image
    // mapped from the program file is found among the process's memory, and
    // its size in the image's header.
    UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
    MEMORY_BASIC_INFORMATION region{};
    for (std::uintptr_t at = 0;
         process && at < 0x80000000u &&
         VirtualQueryEx(process.get(), reinterpret_cast<void*>(at), &region, sizeof region);
         at = reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize) {
        if (region.Type != MEM_IMAGE || region.AllocationBase != region.BaseAddress) continue;
        wchar_t mapped[MAX_PATH * 4] = L"";
        const DWORD length = GetMappedFileNameW(process.get(), region.BaseAddress, mapped,
                                                static_cast<DWORD>(std::size(mapped)));
        const std::wstring name(mapped, length);
        if (name.size() <= kFaultsName.size() ||
            _wcsicmp(name.c_str() + name.size() - kFaultsName.size(), kFaultsName.c_str()) != 0 ||
            name[name.size() - kFaultsName.size() - 1] != L'\\')
            continue;
        const auto base = reinterpret_cast<std::uintptr_t>(region.BaseAddress);
        std::uint32_t header = 0;
        std::uint32_t size = 0;
        if (!ReadProcessMemory(process.get(), reinterpret_cast<void*>(base + 0x3C), &header,
                               sizeof header, nullptr) ||
            !ReadProcessMemory(process.get(), reinterpret_cast<void*>(base + header + 80), &size,
                               sizeof size, nullptr))
            return std::nullopt;
        return ModuleRange{base, size};
    }
    return std::nullopt;
}

class ReportTest : public E2eTest {
protected:
    // The tree's launcher, started as StartLauncher does, with the standard
    // handles given; a file goes to stdout.txt in the game's root.
    Process& StartWith(const GameTree& tree, Env env, StdHandles std) {
        LaunchOptions options;
        options.exe = tree.Launcher();
        options.commandLine = Quoted(tree.Launcher());
        options.folder = tree.ModFolder();
        options.env = std::move(env);
        options.std = std;
        if (std == StdHandles::File) options.outputFile = tree.Path(L"stdout.txt");
        return Start(options);
    }

    // Everything the launcher wrote, once it has ended.
    static std::string OutputOf(Process& launcher, const GameTree& tree, StdHandles std) {
        if (std == StdHandles::Pipe) return launcher.ReadOutput();
        return tree.Read(L"stdout.txt").value_or("<no file>");
    }

    // The tree's files without the captured output.
    static Snapshot FilesOf(const GameTree& tree) {
        Snapshot files = tree.Files();
        files.erase(L"stdout.txt");
        return files;
    }
};

struct LineCase {
    const char* name;
    const wchar_t* fault;
    StdHandles std;
    bool filesKept;  // the failure comes before any file is touched
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

class ReportLineTest : public ReportTest, public ::testing::WithParamInterface<LineCase> {};

// The line is all that is written, exactly, and the launcher ends with 1 at
// once: no box waits for the user, and the game is not started.
TEST_P(ReportLineTest, ExactLineThenExitOne) {
    const LineCase& c = GetParam();
    GameTree& tree = LayTree(FaultsLayout());
    const Snapshot before = FilesOf(tree);

    Process& launcher = StartWith(tree, {{L"MODLAUNCHER_FAULT", c.fault}}, c.std);

    EXPECT_EQ(launcher.WaitForExit(), 1u);
    EXPECT_TRUE(SameBytes(OutputOf(launcher, tree, c.std), "EOutOfMemory: Out of memory\r\n"));
    EXPECT_FALSE(ReadStandinReport(tree.Root())) << "the game was started";
    if (c.filesKept) {
        EXPECT_EQ(SnapshotDiff(before, FilesOf(tree)), "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, ReportLineTest,
    ::testing::Values(LineCase{"BeforeSwapOnFile", L"archives", StdHandles::File, true},
                      LineCase{"BeforeSwapOnPipe", L"archives", StdHandles::Pipe, true},
                      LineCase{"AfterSwapOnFile", L"launch", StdHandles::File, false}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return info.param.name; });

// A long line reaches the pipe whole: every byte once, in order.
TEST_F(ReportTest, LongLineArrivesWholeOnPipe) {
    std::wstring message;
    for (int i = 0; message.size() < 200; ++i) message += std::to_wstring(i) + L'-';
    message.resize(200);
    const std::string expected = "ETestFailure: " + Narrow(message) + "\r\n";
    ASSERT_GT(expected.size(), kLongLine);
    GameTree& tree = LayTree(FaultsLayout());

    Process& launcher = StartWith(
        tree, {{L"MODLAUNCHER_FAULT", L"archives"}, {L"MODLAUNCHER_FAULT_MESSAGE", message}},
        StdHandles::Pipe);

    EXPECT_EQ(launcher.WaitForExit(), 1u);
    EXPECT_TRUE(SameBytes(launcher.ReadOutput(), expected));
}

// The line is in the ANSI code page; a character that it lacks becomes the
// code page's default character.
TEST_F(ReportTest, CharacterMissingFromCodePageBecomesDefaultChar) {
    const std::wstring message = L"caf\u00e9 \u0416";
    const UINT codePage = GetACP();
    CPINFO info{};
    ASSERT_TRUE(GetCPInfo(codePage, &info));
    std::string converted(16, '\0');
    converted.resize(WideCharToMultiByte(codePage, 0, message.data(),
                                         static_cast<int>(message.size()), converted.data(),
                                         static_cast<int>(converted.size()), nullptr, nullptr));
    ASSERT_NE(converted.find(static_cast<char>(info.DefaultChar[0])), std::string::npos)
        << "code page " << codePage << " has every character of the message";
    GameTree& tree = LayTree(FaultsLayout());

    Process& launcher = StartWith(
        tree, {{L"MODLAUNCHER_FAULT", L"archives"}, {L"MODLAUNCHER_FAULT_MESSAGE", message}},
        StdHandles::Pipe);

    EXPECT_EQ(launcher.WaitForExit(), 1u);
    EXPECT_TRUE(SameBytes(launcher.ReadOutput(), "ETestFailure: " + converted + "\r\n"))
        << "code page " << codePage;
}

// Without standard output the line cannot be written: the failure that
// ended the run is shown in the last-resort box as itself, at a point inside
// the program file, and the launcher ends with 1 once it is closed. A
// failure after the swap puts the game's archive back first.
TEST_F(ReportTest, NoStandardOutputShowsTheFailureInTheLastResortBox) {
    if (const std::string skip = WhyCrashDebuggerTakesTheBox(); !skip.empty()) GTEST_SKIP() << skip;
    GameTree& tree = LayTree(FaultsLayout());
    Process& launcher = StartWith(
        tree,
        {{L"MODLAUNCHER_FAULT", L"launch"}, {L"MODLAUNCHER_FAULT_MESSAGE", L"the test's failure"}},
        StdHandles::Null);

    std::optional<MessageBoxSeen> box = WaitForMessageBox(launcher.Id());
    ASSERT_TRUE(box) << NoBox();
    std::optional<ModuleRange> program = ProgramModuleOf(launcher.Id());
    CloseMessageBox(box->window);

    EXPECT_EQ(box->title, L"Application Error");
    EXPECT_EQ(GetWindow(box->window, GW_OWNER), nullptr);
    const std::wstring head = L"Exception ETestFailure in module " + kFaultsName + L" at ";
    const std::wstring tail = L".\r\nthe test's failure.\r\n";
    ASSERT_EQ(box->text.size(), head.size() + 8 + tail.size()) << Narrow(box->text);
    EXPECT_EQ(box->text.substr(0, head.size()), head);
    EXPECT_EQ(box->text.substr(head.size() + 8), tail);
    const std::wstring offset = box->text.substr(head.size(), 8);
    EXPECT_TRUE(IsUpperHex8(offset)) << Narrow(offset);
    ASSERT_TRUE(program) << "the launcher's program file is not in its module list";
    const auto value = std::wcstoul(offset.c_str(), nullptr, 16);
    EXPECT_GE(value, 0x1000u) << "the offset lies in the image's headers";
    EXPECT_LT(value, program->size) << "the offset lies outside the program file's image";

    EXPECT_EQ(launcher.WaitForExit(), 1u);
    EXPECT_FALSE(ReadStandinReport(tree.Root())) << "the game was started";
    EXPECT_EQ(tree.Read(L"mods\\bf2\\Shaders_client.zip"), "G");
    EXPECT_FALSE(tree.Read(L"mods\\bf2\\Backup\\Shaders_client.zip.swapped"));
}

// A processor fault in a step ends the run through the same box, naming
// the fault, whether or not there is a standard output; the exit code is 1
// and no line is written.
TEST_F(ReportTest, AccessViolationShowsLastResortBox) {
    GameTree& tree = LayTree(FaultsLayout());
    Process& launcher = StartWith(
        tree, {{L"MODLAUNCHER_FAULT", L"archives"}, {L"MODLAUNCHER_FAULT_ACCESS_VIOLATION", L"1"}},
        StdHandles::Pipe);

    std::optional<MessageBoxSeen> box = WaitForMessageBox(launcher.Id());
    ASSERT_TRUE(box) << "no box appeared";
    CloseMessageBox(box->window);

    EXPECT_EQ(box->title, L"Application Error");
    // Under qemu-i386 (where this machine runs no 32-bit code) Wine gets a
    // page fault without its trap number and raises an illegal instruction
    // instead: the kind and the fault's details cannot be seen there.
    const bool emulated = std::getenv("MODLAUNCHER_EMULATED_32BIT") != nullptr;
    const std::wstring head = L"Exception EAccessViolation in module " + kFaultsName + L" at ";
    const std::wstring middle = L".\r\nAccess violation at address ";
    const std::wstring tail = L". Write of address 00000000.\r\n";
    if (emulated) {
        EXPECT_EQ(box->text.find(L"Exception "), 0u) << Narrow(box->text);
    } else if (box->text.size() != head.size() + 8 + middle.size() + 8 + tail.size()) {
        ADD_FAILURE() << "unexpected text: " << Narrow(box->text);
    } else {
        EXPECT_EQ(box->text.substr(0, head.size()), head);
        EXPECT_TRUE(IsUpperHex8(box->text.substr(head.size(), 8)));
        EXPECT_EQ(box->text.substr(head.size() + 8, middle.size()), middle);
        EXPECT_TRUE(IsUpperHex8(box->text.substr(head.size() + 8 + middle.size(), 8)));
        EXPECT_EQ(box->text.substr(box->text.size() - tail.size()), tail);
    }

    EXPECT_EQ(launcher.WaitForExit(), 1u);
    EXPECT_EQ(launcher.ReadOutput(), "");
    EXPECT_FALSE(ReadStandinReport(tree.Root())) << "the game was started";
}

// A start-up failure ends the process before the launch: the box gives the
// absolute address inside the program file, nothing in the tree changes, and
// the exit code is 217.
TEST_F(ReportTest, StartupFailureShowsErrorBoxAndChangesNothing) {
    if (const std::string skip = WhyCrashDebuggerTakesTheBox(); !skip.empty()) GTEST_SKIP() << skip;
    GameTree& tree = LayTree(FaultsLayout());
    const Snapshot before = FilesOf(tree);
    Process& launcher =
        StartWith(tree, {{L"MODLAUNCHER_FAULT", L"register-class"}}, StdHandles::Null);

    std::optional<MessageBoxSeen> box = WaitForMessageBox(launcher.Id());
    ASSERT_TRUE(box) << NoBox();
    std::optional<ModuleRange> program = ProgramModuleOf(launcher.Id());
    CloseMessageBox(box->window);

    EXPECT_EQ(box->title, L"Error");
    const std::wstring head = L"Runtime error 217 at ";
    ASSERT_EQ(box->text.size(), 29u) << Narrow(box->text);
    EXPECT_EQ(box->text.substr(0, head.size()), head);
    const std::wstring address = box->text.substr(head.size());
    EXPECT_TRUE(IsUpperHex8(address)) << Narrow(address);
    ASSERT_TRUE(program) << "the launcher's program file is not in its module list";
    const auto value = std::wcstoul(address.c_str(), nullptr, 16);
    // Eight digits hold an address of the 32-bit program whole; in a 64-bit
    // test build they hold its low 32 bits.
    const auto base = static_cast<std::uint32_t>(program->base);
    EXPECT_GE(value, base + 0x1000) << Narrow(address);
    EXPECT_LT(value, base + program->size) << Narrow(address);

    EXPECT_EQ(launcher.WaitForExit(), 217u);
    EXPECT_FALSE(ReadStandinReport(tree.Root())) << "the game was started";
    EXPECT_EQ(SnapshotDiff(before, FilesOf(tree)), "");
    for (const wchar_t* folder : {L"mods\\mymod\\Backup", L"mods\\bf2\\Backup"})
        EXPECT_EQ(GetFileAttributesW(tree.Path(folder).c_str()), INVALID_FILE_ATTRIBUTES)
            << Narrow(folder) << " was made";
}

// A failure while the hidden window handles a message is shown in a box
// owned by that window; once it is closed the wait goes on to its normal end.
TEST_F(ReportTest, WindowProcedureFailureShowsBoxAndWaitGoesOn) {
    GameTree& tree = LayTree(FaultsLayout());
    Process& launcher = StartWith(tree,
                                  {{L"MODLAUNCHER_FAULT", L"window-message"},
                                   {L"STANDIN_RUN_MS", std::to_wstring(kLongRunMs)}},
                                  StdHandles::Pipe);
    std::optional<StandinReport> game = WaitForStandinReport(tree.Root());
    ASSERT_TRUE(game) << "the game was not started";
    HWND window = WaitForWindow(launcher.Id(), L"TApplication");
    ASSERT_NE(window, nullptr) << "no TApplication window";

    ASSERT_TRUE(PostMessageW(window, WM_APP, 0, 0));
    std::optional<MessageBoxSeen> box = WaitForMessageBox(launcher.Id());
    ASSERT_TRUE(box) << "no box appeared";
    EXPECT_EQ(box->title, L"Modlauncherfaults");
    EXPECT_EQ(box->text, L"Out of memory.");
    EXPECT_EQ(GetWindow(box->window, GW_OWNER), window);
    CloseMessageBox(box->window);

    EXPECT_EQ(launcher.WaitForExit(1000), std::nullopt) << "the launcher ended with the box";
    UniqueHandle gameProcess(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, game->pid));
    ASSERT_TRUE(gameProcess) << "the game is no longer running";
    TerminateProcess(gameProcess.get(), 0);
    EXPECT_EQ(launcher.WaitForExit(), 0u);
    EXPECT_TRUE(tree.Holds(L"mods\\bf2\\Shaders_client.zip", "G"))
        << "the game's archive was not put back";
    EXPECT_TRUE(SameBytes(launcher.ReadOutput(), ""));
}

// The product started the ordinary way, with no standard output: nothing
// fails, so nothing is reported. The test hook's variable is set too; the
// product has no fault points to heed it.
TEST_F(ReportTest, ProductWithoutStandardOutputEndsQuietly) {
    GameTree& tree = LayTree();
    Process& launcher = StartWith(tree, {{L"MODLAUNCHER_FAULT", L"archives"}}, StdHandles::Null);

    EXPECT_EQ(launcher.WaitForExit(), 0u) << "the launcher did not end by itself with 0";
    std::optional<StandinReport> game = ReadStandinReport(tree.Root());
    ASSERT_TRUE(game) << "the game was not started";
    EXPECT_TRUE(game->ended);
}

struct HandlesCase {
    const char* name;
    StdHandles std;
    std::string handle;
    DWORD type;
};

void PrintTo(const HandlesCase& c, std::ostream* os) { *os << c.name; }

class StandardHandlesTest : public ReportTest, public ::testing::WithParamInterface<HandlesCase> {};

// What a new process finds as its standard output, for each way of starting
// it: the report relies on a null handle reading as FILE_TYPE_UNKNOWN.
TEST_P(StandardHandlesTest, NewProcessSeesHandleAndType) {
    const HandlesCase& c = GetParam();
    GameTree& tree = LayTree();
    LaunchOptions options;
    options.exe = tree.Path(L"BF2.exe");
    options.commandLine = Quoted(options.exe);
    options.folder = tree.Root();
    options.std = c.std;
    options.outputFile = tree.Path(L"stdout.txt");
    Process& game = Start(options);

    EXPECT_EQ(game.WaitForExit(), 0u);
    std::optional<StandinReport> report = ReadStandinReport(tree.Root());
    ASSERT_TRUE(report) << "the stand-in wrote no report";
    EXPECT_EQ(report->stdOutput, c.handle);
    EXPECT_EQ(report->stdOutputType, c.type);
}

INSTANTIATE_TEST_SUITE_P(
    Platform, StandardHandlesTest,
    ::testing::Values(HandlesCase{"Null", StdHandles::Null, "null", FILE_TYPE_UNKNOWN},
                      HandlesCase{"Pipe", StdHandles::Pipe, "handle", FILE_TYPE_PIPE},
                      HandlesCase{"File", StdHandles::File, "handle", FILE_TYPE_DISK}),
    [](const ::testing::TestParamInfo<HandlesCase>& info) { return info.param.name; });

}  // namespace
}  // namespace e2e
