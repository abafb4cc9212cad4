#include "Mfc/AfxWin.h"

#include "Platform/Resource.h"

#include <gtest/gtest.h>

namespace {

TEST(Icons, AnIconIsItsModulesResourceOfThatType) {
    auto registration = Platform::RegisterResourceModule(
        u"MfcIconLibrary.dll", Platform::ParseResourceText("BINARY ICON 7 0000010001\nBINARY GIF 8 4749\n", "icons"));
    HMODULE library = LoadLibraryW(u"MfcIconLibrary.dll");
    ASSERT_NE(library, nullptr);

    HICON icon = LoadIconW(library, MAKEINTRESOURCEW(7));
    EXPECT_NE(icon, nullptr);
    EXPECT_EQ(LoadIconW(library, MAKEINTRESOURCEW(7)), icon);
    // Another type under the id, or no resource at all, is no icon.
    EXPECT_EQ(LoadIconW(library, MAKEINTRESOURCEW(8)), nullptr);
    EXPECT_EQ(LoadIconW(library, MAKEINTRESOURCEW(9)), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));

    FreeLibrary(library);
}

}  // namespace
