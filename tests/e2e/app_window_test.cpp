// The launcher's hidden application window, seen from another program while
// the game runs, and the messages that may or may not end the launcher.
#include "harness.h"

namespace e2e {
namespace {

// A launcher whose game runs until the test ends, with its window found.
class RunningGameTest : public E2eTest {
protected:
    void StartWithLongGame(const GameLayout& layout = {}) {
        GameTree& tree = LayTree(layout);
        launcher_ = &StartLauncher(tree, L"", {{L"STANDIN_RUN_MS", std::to_wstring(kLongRunMs)}});
        std::optional<StandinReport> game = WaitForStandinReport(tree.Root());
        ASSERT_TRUE(game) << "the game was not started";
        gamePid_ = game->pid;
        window_ = WaitForWindow(launcher_->Id(), L"TApplication");
        ASSERT_NE(window_, nullptr) << "no TApplication window";
    }

    Process* launcher_ = nullptr;
    DWORD gamePid_ = 0;
    HWND window_ = nullptr;
};

TEST_F(RunningGameTest, WindowIsHiddenZeroSizedAtScreenCentre) {
    GameLayout layout;
    layout.launcherName = L"VANTOR.EXE";
    ASSERT_NO_FATAL_FAILURE(StartWithLongGame(layout));

    EXPECT_EQ(TitleOf(window_), L"Vantor");
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(window_, GWL_STYLE)), 0x84CA0000u);
    EXPECT_FALSE(IsWindowVisible(window_));
    // WS_EX_TOOLWINDOW; Wine adds WS_EX_WINDOWEDGE for the caption.
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(window_, GWL_EXSTYLE)), 0x180u);
    RECT rect{};
    ASSERT_TRUE(GetWindowRect(window_, &rect));
    EXPECT_EQ(rect.left, GetSystemMetrics(SM_CXSCREEN) / 2);
    EXPECT_EQ(rect.top, GetSystemMetrics(SM_CYSCREEN) / 2);
    EXPECT_EQ(rect.right - rect.left, 0);
    EXPECT_EQ(rect.bottom - rect.top, 0);
    EXPECT_EQ(GetWindow(window_, GW_OWNER), nullptr);
}

struct HarmlessMessage {
    const char* name;
    UINT message;
    WPARAM wParam;
    LRESULT expected;
};

void PrintTo(const HarmlessMessage& m, std::ostream* os) { *os << m.name; }

class HarmlessMessageTest : public RunningGameTest,
                            public ::testing::WithParamInterface<HarmlessMessage> {};

// Closing the window, or asking whether the session may end, leaves the
// window, the launcher and the game as they were.
TEST_P(HarmlessMessageTest, ChangesNothing) {
    const HarmlessMessage& m = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartWithLongGame());

    EXPECT_EQ(SendWithTimeout(window_, m.message, m.wParam), m.expected);

    EXPECT_EQ(launcher_->WaitForExit(1000), std::nullopt) << "the launcher ended";
    EXPECT_TRUE(IsWindow(window_));
    EXPECT_TRUE(IsProcessRunning(gamePid_));
}

INSTANTIATE_TEST_SUITE_P(
    Messages, HarmlessMessageTest,
    ::testing::Values(HarmlessMessage{"Close", WM_CLOSE, 0, 0},
                      HarmlessMessage{"SystemMenuClose", WM_SYSCOMMAND, SC_CLOSE, 0},
                      HarmlessMessage{"QueryEndSession", WM_QUERYENDSESSION, 0, 1}),
    [](const ::testing::TestParamInfo<HarmlessMessage>& info) { return info.param.name; });

enum class Ending { QuitToThread, EndSession, EndSessionCancelled };

struct EndingCase {
    const char* name;
    Ending how;
};

void PrintTo(const EndingCase& c, std::ostream* os) { *os << c.name; }

class EndingMessageTest : public RunningGameTest,
                          public ::testing::WithParamInterface<EndingCase> {};

// A quit message, or the session's end (even a cancelled one), ends the
// launcher with 0 and leaves the game running.
TEST_P(EndingMessageTest, EndsLauncherNotGame) {
    ASSERT_NO_FATAL_FAILURE(StartWithLongGame());

    switch (GetParam().how) {
        case Ending::QuitToThread:
            ASSERT_TRUE(PostThreadMessageW(launcher_->ThreadId(), WM_QUIT, 0, 0));
            break;
        // The launcher may end inside its handler, so the send need not return.
        case Ending::EndSession:
            SendWithTimeout(window_, WM_ENDSESSION, 1, 0, 2000);
            break;
        case Ending::EndSessionCancelled:
            SendWithTimeout(window_, WM_ENDSESSION, 0, 0, 2000);
            break;
    }

    EXPECT_EQ(launcher_->WaitForExit(), 0u);
    EXPECT_TRUE(IsProcessRunning(gamePid_)) << "the game ended with the launcher";
}

INSTANTIATE_TEST_SUITE_P(
    Messages, EndingMessageTest,
    ::testing::Values(EndingCase{"QuitToThread", Ending::QuitToThread},
                      EndingCase{"EndSession", Ending::EndSession},
                      EndingCase{"EndSessionCancelled", Ending::EndSessionCancelled}),
    [](const ::testing::TestParamInfo<EndingCase>& info) { return info.param.name; });

}  // namespace
}  // namespace e2e
