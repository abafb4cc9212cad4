// The test driver's failures as GoogleTest failures (tests only).
#pragma once

#include "Mfc/TestDriver.h"

#include <gtest/gtest.h>

#include <ostream>

// Readable CString values in test failures.
inline void PrintTo(const CString& text, std::ostream* out) {
    *out << '"' << Mfc::Utf8(text.str()) << '"';
}

namespace Mfc {

inline TestDriver::FailureReporter GTestFailures() {
    return [](const std::string& message) { ADD_FAILURE() << message; };
}

}  // namespace Mfc
