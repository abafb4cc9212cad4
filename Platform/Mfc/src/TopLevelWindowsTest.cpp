#include "Mfc/AfxWin.h"
#include "Mfc/Layer.h"
#include "Platform/ScopedMachineFolder.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace {

TEST(TopLevelWindows, FoundByTitleAndBroughtBackFromMinimised) {
    CWnd main;
    ASSERT_TRUE(main.CreateEx(0, u"#32770", u"Main title", WS_POPUP | WS_VISIBLE, RECT{0, 0, 100, 100}, nullptr, 0));
    CWnd child;
    ASSERT_TRUE(child.CreateEx(0, u"Button", u"Main title", WS_CHILD | WS_VISIBLE, RECT{0, 0, 10, 10}, &main, 5));

    EXPECT_EQ(FindWindowW(nullptr, u"Main title"), main.m_hWnd) << "children are not top-level windows";
    EXPECT_EQ(FindWindowW(u"#32770", nullptr), main.m_hWnd);
    EXPECT_EQ(FindWindowW(nullptr, u"Other"), nullptr);
    EXPECT_EQ(FindWindowW(u"Button", u"Main title"), nullptr);

    // A popup owned by the main window, and one owned by that.
    EXPECT_EQ(GetLastActivePopup(main.m_hWnd), main.m_hWnd);
    CWnd popup;
    ASSERT_TRUE(popup.CreateEx(0, u"#32770", u"Popup", WS_POPUP | WS_VISIBLE, RECT{0, 0, 50, 50}, &main, 0));
    CWnd inner;
    ASSERT_TRUE(inner.CreateEx(0, u"#32770", u"Inner", WS_POPUP | WS_VISIBLE, RECT{0, 0, 20, 20}, &popup, 0));
    EXPECT_EQ(GetLastActivePopup(main.m_hWnd), inner.m_hWnd);
    inner.ShowWindow(SW_HIDE);
    EXPECT_EQ(GetLastActivePopup(main.m_hWnd), popup.m_hWnd);

    EXPECT_FALSE(IsIconic(main.m_hWnd));
    main.ShowWindow(SW_MINIMIZE);
    EXPECT_TRUE(IsIconic(main.m_hWnd));
    main.ShowWindow(SW_RESTORE);
    EXPECT_FALSE(IsIconic(main.m_hWnd));
    EXPECT_TRUE(main.IsWindowVisible());

    inner.DestroyWindow();
    popup.DestroyWindow();
    main.DestroyWindow();
    EXPECT_EQ(FindWindowW(nullptr, u"Main title"), nullptr);
}

TEST(TopLevelWindows, ASecondProcessBringsTheFirstOnesWindowForward) {
    // Named objects and windows reach other processes of the same machine.
    Platform::Testing::ScopedMachineFolder machine;
    const std::string id = std::to_string(::getpid());
    const std::u16string eventName = u"velmo-test-forward-" + std::u16string(id.begin(), id.end());
    const std::u16string title = u"First instance " + std::u16string(id.begin(), id.end());
    // The second process starts before this one has its event or window.
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(go[1]);
        char c;
        if (::read(go[0], &c, 1) != 1) _exit(1);
        CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
        if (GetLastError() != ERROR_ALREADY_EXISTS) _exit(2);
        HWND first = FindWindowW(nullptr, title.c_str());
        if (first == nullptr) _exit(3);
        HWND popup = GetLastActivePopup(first);
        if (popup == nullptr) _exit(4);
        if (!IsIconic(first)) _exit(5);
        ShowWindow(first, SW_RESTORE);
        if (!SetForegroundWindow(popup)) _exit(6);
        _exit(0);
    }
    ::close(go[0]);
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
    ASSERT_EQ(GetLastError(), ERROR_SUCCESS);
    CWnd main;
    ASSERT_TRUE(main.CreateEx(0, u"#32770", title.c_str(), WS_POPUP | WS_VISIBLE, RECT{0, 0, 100, 100}, nullptr, 0));
    main.ShowWindow(SW_MINIMIZE);
    ASSERT_EQ(::write(go[1], "x", 1), 1);
    ::close(go[1]);

    int status = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (::waitpid(child, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline) {
        while (Mfc::PumpMessage()) {
        }
        Mfc::WaitForPostedMessage(10);
    }
    while (Mfc::PumpMessage()) {
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(IsIconic(main.m_hWnd));
    main.DestroyWindow();
    CloseHandle(event);
}

}  // namespace
