#include "Mfc/AfxWin.h"

#include <gtest/gtest.h>

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

}  // namespace
