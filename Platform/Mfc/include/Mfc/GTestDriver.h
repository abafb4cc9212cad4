// The test driver's failures as GoogleTest failures (tests only).
#pragma once

#include "Mfc/TestDriver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>

// Readable CString values in test failures.
inline void PrintTo(const CString& text, std::ostream* out) {
    *out << '"' << Mfc::Utf8(text.str()) << '"';
}

namespace Mfc {

inline TestDriver::FailureReporter GTestFailures() {
    return [](const std::string& message) { ADD_FAILURE() << message; };
}

// Puts `text` on the clipboard as another program's copy would.
inline void PutClipboardText(const std::u16string& text) {
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(char16_t));
    std::memcpy(GlobalLock(memory), text.c_str(), (text.size() + 1) * sizeof(char16_t));
    GlobalUnlock(memory);
    EXPECT_EQ(SetClipboardData(CF_UNICODETEXT, memory), memory);
    CloseClipboard();
}

}  // namespace Mfc
