// The pump step on the test thread's real queue.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/windows_platform.h"
#include "tests/shell/shell_fixture.h"

namespace {

using Dispatches = std::vector<Delivered>;

TEST_F(ShellTest, MouseMessagesAreTakenBeforeEarlierOnes) {
    // Just outside the mouse range on either side, then its two ends.
    PostMessageW(wideWindow_, WM_MOUSEFIRST - 1, 0, 0);
    PostMessageW(wideWindow_, WM_MOUSEHWHEEL + 1, 0, 0);
    PostMessageW(wideWindow_, WM_MOUSEHWHEEL, 0, 0);
    PostMessageW(wideWindow_, WM_MOUSEFIRST, 0, 0);

    ProcessMessages(shell_);

    EXPECT_EQ(delivered, (Dispatches{{wideWindow_, WM_MOUSEHWHEEL},
                                     {wideWindow_, WM_MOUSEFIRST},
                                     {wideWindow_, WM_MOUSEFIRST - 1},
                                     {wideWindow_, WM_MOUSEHWHEEL + 1}}));
    EXPECT_TRUE(QueueIsEmpty());
}

TEST_F(ShellTest, QuitSetsTerminatedAndTheStepGoesOnToTheEnd) {
    PostMessageW(wideWindow_, WM_USER + 1, 0, 0);
    PostMessageW(wideWindow_, WM_QUIT, 0, 0);
    PostMessageW(ansiWindow_, WM_USER + 2, 0, 0);

    ProcessMessages(shell_);

    EXPECT_TRUE(shell_.terminated);
    // The quit message itself reaches no window.
    EXPECT_EQ(delivered, (Dispatches{{wideWindow_, WM_USER + 1}, {ansiWindow_, WM_USER + 2}}));
    EXPECT_TRUE(QueueIsEmpty());

    // A terminated shell pumps as before.
    PostMessageW(wideWindow_, WM_USER + 3, 0, 0);
    ProcessMessages(shell_);
    EXPECT_EQ(delivered.back(), (Delivered{wideWindow_, WM_USER + 3}));
}

// Which of the A and W queue calls the step makes, as a transcript.
std::vector<std::string> calls;

std::string PeekLine(const char* name, const MSG* msg, BOOL taken, UINT first, UINT last,
                     UINT remove) {
    char line[96];
    const int length = std::snprintf(line, sizeof(line), "%s %X-%X %s -> ", name, first, last,
                                     remove & PM_REMOVE ? "remove" : "look");
    if (taken) {
        std::snprintf(line + length, sizeof(line) - length, "%X", msg->message);
    } else {
        std::snprintf(line + length, sizeof(line) - length, "none");
    }
    return line;
}

BOOL WINAPI RecordPeekW(MSG* msg, HWND window, UINT first, UINT last, UINT remove) {
    const BOOL taken = PeekMessageW(msg, window, first, last, remove);
    calls.push_back(PeekLine("PeekMessageW", msg, taken, first, last, remove));
    return taken;
}

BOOL WINAPI RecordPeekA(MSG* msg, HWND window, UINT first, UINT last, UINT remove) {
    const BOOL taken = PeekMessageA(msg, window, first, last, remove);
    calls.push_back(PeekLine("PeekMessageA", msg, taken, first, last, remove));
    return taken;
}

std::string DispatchLine(const char* name, const MSG* msg) {
    char line[64];
    std::snprintf(line, sizeof(line), "%s %X", name, msg->message);
    return line;
}

LRESULT WINAPI RecordDispatchW(const MSG* msg) {
    calls.push_back(DispatchLine("DispatchMessageW", msg));
    return DispatchMessageW(msg);
}

LRESULT WINAPI RecordDispatchA(const MSG* msg) {
    calls.push_back(DispatchLine("DispatchMessageA", msg));
    return DispatchMessageA(msg);
}

class PumpCallsTest : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        calls.clear();
        ShellCalls.PeekMessageW = RecordPeekW;
        ShellCalls.PeekMessageA = RecordPeekA;
        ShellCalls.DispatchMessageW = RecordDispatchW;
        ShellCalls.DispatchMessageA = RecordDispatchA;
    }
};

const std::string kNoMouse = "PeekMessageW 200-20E remove -> none";
const std::string kNothingLeft = "PeekMessageW 0-0 look -> none";

TEST_F(PumpCallsTest, AnEmptyQueueCostsOneMousePeekAndOneLook) {
    ProcessMessages(shell_);
    EXPECT_EQ(calls, (std::vector<std::string>{kNoMouse, kNothingLeft}));
}

enum class Target { WideWindow, AnsiWindow, Thread };

struct FormCase {
    const char* name;
    Target target;
    UINT message;
    std::vector<std::string> expected;
};

// Failure messages name the row, not its bytes.
void PrintTo(const FormCase& c, std::ostream* os) { *os << c.name; }

class PumpFormTest : public PumpCallsTest, public ::testing::WithParamInterface<FormCase> {};

TEST_P(PumpFormTest, TakesAndDispatchesInTheFormOfTheWindowsProcedure) {
    const FormCase& c = GetParam();
    HWND window = c.target == Target::WideWindow   ? wideWindow_
                  : c.target == Target::AnsiWindow ? ansiWindow_
                                                   : nullptr;
    if (window) {
        PostMessageW(window, c.message, 0, 0);
    } else {
        PostThreadMessageW(GetCurrentThreadId(), c.message, 0, 0);
    }

    ProcessMessages(shell_);

    EXPECT_EQ(calls, c.expected);
    // A thread message has no window to reach.
    EXPECT_EQ(delivered, (window ? Dispatches{{window, c.message}} : Dispatches{}));
}

INSTANTIATE_TEST_SUITE_P(
    Forms, PumpFormTest,
    ::testing::Values(
        FormCase{"UnicodeWindow",
                 Target::WideWindow,
                 0x401,
                 {kNoMouse, "PeekMessageW 0-0 look -> 401", "PeekMessageW 0-0 remove -> 401",
                  "DispatchMessageW 401", kNoMouse, kNothingLeft}},
        FormCase{"AnsiWindow",
                 Target::AnsiWindow,
                 0x401,
                 {kNoMouse, "PeekMessageW 0-0 look -> 401", "PeekMessageA 0-0 remove -> 401",
                  "DispatchMessageA 401", kNoMouse, kNothingLeft}},
        // Taken by the wide mouse peek, yet handed over in the window's own form.
        FormCase{
            "AnsiWindowMouse",
            Target::AnsiWindow,
            WM_MOUSEMOVE,
            {"PeekMessageW 200-20E remove -> 200", "DispatchMessageA 200", kNoMouse, kNothingLeft}},
        FormCase{"ThreadMessage",
                 Target::Thread,
                 0x401,
                 {kNoMouse, "PeekMessageW 0-0 look -> 401", "PeekMessageW 0-0 remove -> 401",
                  "DispatchMessageW 401", kNoMouse, kNothingLeft}}),
    [](const ::testing::TestParamInfo<FormCase>& info) { return std::string(info.param.name); });

// The restore's pauses between tries keep the hidden window answering: a
// message already waiting when a pause begins is handled within it, not
// left until the pause is over.
TEST_F(ShellTest, PauseHandlesTheMessagesThatWait) {
    PostMessageW(wideWindow_, 0x402, 0, 0);
    PostQuitMessage(0);
    AppShellWindow window(shell_);
    WindowsPlatform platform(window);
    platform.Pause(1);
    EXPECT_EQ(delivered, (std::vector<Delivered>{{wideWindow_, 0x402}}));
    EXPECT_TRUE(shell_.terminated);
}

}  // namespace
