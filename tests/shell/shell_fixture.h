#pragma once
// The shell started afresh for each test, on the test thread's real queue,
// and a pair of the test's own windows, one with a UTF-16 procedure and one
// with an ANSI procedure, that record what is dispatched to them.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "shell/app_shell.h"

struct Delivered {
    HWND window;
    UINT message;
    bool operator==(const Delivered& other) const {
        return window == other.window && message == other.message;
    }
};

// Everything the test windows' procedures were given, in order.
inline std::vector<Delivered> delivered;

// Records the messages the tests post: user-range, mouse-range and WM_QUIT.
inline bool Record(HWND window, UINT message) {
    const bool posted = message >= WM_USER || message == WM_QUIT ||
                        (message >= WM_MOUSEFIRST - 1 && message <= WM_MOUSEHWHEEL + 1);
    if (posted) delivered.push_back({window, message});
    return posted;
}

inline LRESULT CALLBACK RecordingProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return Record(window, message) ? 0 : DefWindowProcW(window, message, wParam, lParam);
}

inline LRESULT CALLBACK RecordingProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return Record(window, message) ? 0 : DefWindowProcA(window, message, wParam, lParam);
}

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        StartAppShell(shell_);
        savedCalls_ = ShellCalls;

        const HINSTANCE instance = GetModuleHandleW(nullptr);
        WNDCLASSW wide{};
        wide.lpfnWndProc = RecordingProcW;
        wide.hInstance = instance;
        wide.lpszClassName = L"ShellTestWide";
        RegisterClassW(&wide);  // fails harmlessly from the second test on
        WNDCLASSA ansi{};
        ansi.lpfnWndProc = RecordingProcA;
        ansi.hInstance = instance;
        ansi.lpszClassName = "ShellTestAnsi";
        RegisterClassA(&ansi);
        wideWindow_ = CreateWindowExW(0, L"ShellTestWide", L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                      nullptr, instance, nullptr);
        ansiWindow_ = CreateWindowExA(0, "ShellTestAnsi", "", WS_POPUP, 0, 0, 0, 0, nullptr,
                                      nullptr, instance, nullptr);
        ASSERT_TRUE(wideWindow_ && ansiWindow_)
            << "no window could be made: the shell tests need an X display. tools/test.sh "
               "starts a virtual one; by hand, run them under xvfb-run -a";
        ASSERT_TRUE(IsWindowUnicode(wideWindow_));
        ASSERT_FALSE(IsWindowUnicode(ansiWindow_));

        // Whatever start-up left waiting is not what the tests look at.
        ProcessMessages(shell_);
        ASSERT_FALSE(shell_.terminated);
        delivered.clear();
    }

    void TearDown() override {
        ShellCalls = savedCalls_;
        DestroyWindow(wideWindow_);
        DestroyWindow(ansiWindow_);
        TeardownAppShell(shell_);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    static bool QueueIsEmpty() {
        MSG msg;
        return !PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    }

    // The shell under test, started afresh for each test.
    AppShell shell_;
    ShellUser32 savedCalls_{};
    HWND wideWindow_ = nullptr;
    HWND ansiWindow_ = nullptr;
};
