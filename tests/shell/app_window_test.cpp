// The application window as created, its procedure's answers, the failure
// box it shows, and teardown.
#include <ole2.h>

#include <atomic>
#include <chrono>
#include <new>
#include <string>
#include <thread>

#include "launcher/failure.h"
#include "tests/shell/shell_fixture.h"

namespace {

struct TitleCase {
    const char* name;
    const wchar_t* path;
    const wchar_t* title;
};

// Failure messages name the row, not its bytes.
void PrintTo(const TitleCase& c, std::ostream* os) { *os << c.name; }

class TitleTest : public ::testing::TestWithParam<TitleCase> {};

TEST_P(TitleTest, ComesFromTheProgramFileName) {
    EXPECT_EQ(TitleFromModulePath(GetParam().path), GetParam().title);
}

// Past the 255 units the buffer holds, the file name is lost: the title is
// then the cut folder name.
const std::wstring kLongPath = L"C:\\" + std::wstring(300, L'A') + L"\\Vantor.exe";
const std::wstring kLongTitle = L"A" + std::wstring(251, L'a');

INSTANTIATE_TEST_SUITE_P(
    Paths, TitleTest,
    ::testing::Values(TitleCase{"InAModFolder", L"C:\\Games\\mods\\m\\Vantor.exe", L"Vantor"},
                      TitleCase{"UpperCaseIsCapitalised", L"C:\\Games\\VANTOR.EXE", L"Vantor"},
                      TitleCase{"LowerCaseKept", L"C:\\Games\\vantor.exe", L"vantor"},
                      TitleCase{"DotsInTheName", L"C:\\Games\\my.tool.exe", L"my"},
                      TitleCase{"DotInAFolder", L"C:\\my.games\\m\\Run.exe", L"Run"},
                      TitleCase{"NoExtension", L"C:\\Games\\LAUNCHER", L"Launcher"},
                      TitleCase{"NoFolder", L"Solo.exe", L"Solo"},
                      TitleCase{"FolderOnly", L"C:\\Games\\", L""}, TitleCase{"Empty", L"", L""},
                      TitleCase{"PastTheBuffer", kLongPath.c_str(), kLongTitle.c_str()}),
    [](const ::testing::TestParamInfo<TitleCase>& info) { return std::string(info.param.name); });

std::wstring ClassName(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

std::wstring WindowText(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

TEST_F(ShellTest, StartUpMakesAHiddenZeroSizedToolWindowAtTheScreensCentre) {
    const HWND window = shell_.window;
    ASSERT_TRUE(IsWindow(window));
    EXPECT_TRUE(shell_.windowCreated);
    EXPECT_TRUE(shell_.oleToUndo);
    EXPECT_EQ(shell_.title, L"shell_tests");

    EXPECT_EQ(ClassName(window), L"TApplication");
    EXPECT_EQ(WindowText(window), L"shell_tests");
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)), 0x84CA0000u);
    EXPECT_FALSE(IsWindowVisible(window));
    // The platform may add the edge that goes with a caption.
    EXPECT_EQ(GetWindowLongW(window, GWL_EXSTYLE) & ~WS_EX_WINDOWEDGE, WS_EX_TOOLWINDOW);
    RECT rect{};
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.left, GetSystemMetrics(SM_CXSCREEN) / 2);
    EXPECT_EQ(rect.top, GetSystemMetrics(SM_CYSCREEN) / 2);
    EXPECT_EQ(rect.right, rect.left);
    EXPECT_EQ(rect.bottom, rect.top);
    EXPECT_EQ(GetWindow(window, GW_OWNER), nullptr);
    EXPECT_EQ(GetAncestor(window, GA_PARENT), GetDesktopWindow());
    EXPECT_EQ(GetWindowLongPtrW(window, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&AppWindowProc));
}

TEST_F(ShellTest, QueryEndSessionIsAnsweredYes) {
    EXPECT_EQ(SendMessageW(shell_.window, WM_QUERYENDSESSION, 0, 0), 1);
    ProcessMessages(shell_);
    EXPECT_FALSE(shell_.terminated);
}

TEST_F(ShellTest, CancelledEndSessionTerminatesWithinThatPumpStep) {
    PostMessageW(shell_.window, WM_ENDSESSION, 0, 0);
    ProcessMessages(shell_);
    EXPECT_TRUE(shell_.terminated);
    EXPECT_TRUE(IsWindow(shell_.window));
}

struct CloseCase {
    const char* name;
    UINT message;
    WPARAM wParam;
};

// Failure messages name the row, not its bytes.
void PrintTo(const CloseCase& c, std::ostream* os) { *os << c.name; }

class CloseTest : public ShellTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CloseTest, ChangesNothing) {
    const HWND window = shell_.window;
    EXPECT_EQ(SendMessageW(window, GetParam().message, GetParam().wParam, 0), 0);
    ProcessMessages(shell_);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_FALSE(shell_.terminated);
}

INSTANTIATE_TEST_SUITE_P(Requests, CloseTest,
                         ::testing::Values(CloseCase{"Close", WM_CLOSE, 0},
                                           CloseCase{"SysCommandClose", WM_SYSCOMMAND, SC_CLOSE}),
                         [](const ::testing::TestParamInfo<CloseCase>& info) {
                             return std::string(info.param.name);
                         });

// A window with the shell's procedure but no shell stored on it, as the
// shell's own window is before its start stores the shell there.
TEST_F(ShellTest, AWindowWithoutItsShellGetsTheDefaultHandling) {
    const HWND window = CreateWindowExW(0, L"ShellTestWide", L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                        nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(window);
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&AppWindowProc));

    // The shell's handling would ask for the quit message here...
    SendMessageW(window, WM_ENDSESSION, 0, 0);
    ProcessMessages(shell_);
    EXPECT_FALSE(shell_.terminated);
    // ...and ignore the close, which by default destroys the window.
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window));
    if (IsWindow(window)) DestroyWindow(window);
}

TEST_F(ShellTest, MinimiseMinimisesAndRestoreLeavesItMinimised) {
    const HWND window = shell_.window;
    ASSERT_FALSE(IsIconic(window));
    SendMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(IsIconic(window));
    // The low four bits of the command belong to the platform.
    SendMessageW(window, WM_SYSCOMMAND, SC_RESTORE | 2, 0);
    EXPECT_TRUE(IsIconic(window));
    ProcessMessages(shell_);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_FALSE(shell_.terminated);
}

TEST_F(ShellTest, TeardownDestroysTheWindowAndUndoesOleOnlyOnce) {
    const HWND window = shell_.window;
    TeardownAppShell(shell_);
    EXPECT_FALSE(IsWindow(window));
    // OLE is no longer initialised on this thread: this is a first initialisation.
    EXPECT_EQ(OleInitialize(nullptr), S_OK);
    // A second teardown must leave that initialisation alone.
    TeardownAppShell(shell_);
    EXPECT_EQ(OleInitialize(nullptr), S_FALSE);
    OleUninitialize();
    OleUninitialize();
}

// The failure box: a window message whose handling raises a failure.

struct FailureCase {
    const char* name;
    void (*raise)();
    const wchar_t* shown;
};

const FailureCase* raising = nullptr;

LRESULT WINAPI RaisingDefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) raising->raise();
    return DefWindowProcW(window, message, wParam, lParam);
}

struct Box {
    bool found = false;
    std::wstring title;
    std::wstring text;
    HWND owner = nullptr;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
    if (ClassName(window) != L"#32770") return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// Waits for a box on the given thread, reads it and closes it.
Box ReadAndCloseBox(DWORD thread) {
    Box box;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    HWND dialog = nullptr;
    while (!dialog && std::chrono::steady_clock::now() < deadline) {
        EnumThreadWindows(thread, FindDialog, reinterpret_cast<LPARAM>(&dialog));
        if (!dialog) Sleep(10);
    }
    if (!dialog) return box;
    box.found = true;
    box.title = WindowText(dialog);
    box.text = WindowText(GetDlgItem(dialog, 0xFFFF));
    box.owner = GetWindow(dialog, GW_OWNER);
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    return box;
}

// Failure messages name the row, not its bytes.
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class FailureBoxTest : public ShellTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailureBoxTest, IsShownAndKeptInsideTheProcedure) {
    raising = &GetParam();
    ShellCalls.DefWindowProcW = RaisingDefWindowProc;
    Box box;
    std::thread watcher([&box, thread = GetCurrentThreadId()] { box = ReadAndCloseBox(thread); });

    const LRESULT result = SendMessageW(shell_.window, WM_APP, 0, 0);
    watcher.join();

    EXPECT_EQ(result, 0);
    ASSERT_TRUE(box.found);
    EXPECT_EQ(box.title, L"shell_tests");
    EXPECT_EQ(box.text, GetParam().shown);
    EXPECT_EQ(box.owner, shell_.window);

    // The pump goes on as before.
    PostMessageW(wideWindow_, WM_USER + 1, 0, 0);
    ProcessMessages(shell_);
    EXPECT_EQ(delivered, (std::vector<Delivered>{{wideWindow_, WM_USER + 1}}));
    EXPECT_FALSE(shell_.terminated);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, FailureBoxTest,
    ::testing::Values(
        FailureCase{"OutOfMemory", [] { throw OutOfMemory(); }, L"Out of memory."},
        FailureCase{"BadAlloc", [] { throw std::bad_alloc(); }, L"Out of memory."},
        FailureCase{"OutOfResources", [] { throw OutOfResources(u"Error creating window class"); },
                    L"Error creating window class."},
        // The full stop goes after any character that comes after it in code order.
        FailureCase{"EndsAfterStop", [] { throw Failure(u"EFailure", u"Path a/"); }, L"Path a/."},
        FailureCase{"EndsWithStop", [] { throw Failure(u"EFailure", u"Done."); }, L"Done."},
        FailureCase{"EndsBeforeStop", [] { throw Failure(u"EFailure", u"Done,"); }, L"Done,"},
        FailureCase{"Empty", [] { throw Failure(u"EFailure", u""); }, L""},
        FailureCase{"OwnedText", [] { throw InOutError(7, Text(u"I/O error 7"), 0); },
                    L"I/O error 7."}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

}  // namespace
