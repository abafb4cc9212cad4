#include "Tessary/TSException.h"

#include <gtest/gtest.h>

#include <functional>

using namespace Tessary;

namespace {

// Which of the handlers below catches a thrown object.
enum class Caught { Invalid, Logic, Runtime, Foundation, BadAlloc, Std, Other };

Caught Classify(const std::function<void()>& thrower) {
    try {
        thrower();
    } catch (const TSInvalidArgument&) {
        return Caught::Invalid;
    } catch (const TSLogicError&) {
        return Caught::Logic;
    } catch (const TSRuntimeError&) {
        return Caught::Runtime;
    } catch (const std::bad_alloc&) {
        return Caught::BadAlloc;
    } catch (const TSException&) {
        return Caught::Foundation;
    } catch (const std::exception&) {
        return Caught::Std;
    } catch (...) {
        return Caught::Other;
    }
    return Caught::Other;
}

}  // namespace

TEST(TSException, EachClassIsCaughtByItsBasesNotBySiblings) {
    EXPECT_EQ(Classify([] { TS_THROW(TSInvalidArgument, "x"); }), Caught::Invalid);
    EXPECT_EQ(Classify([] { TS_THROW(TSUnimplementedError, "x"); }), Caught::Logic);
    EXPECT_EQ(Classify([] { TS_THROW(TSDomainError, "x"); }), Caught::Logic);
    EXPECT_EQ(Classify([] { TS_THROW_CODE(TSRuntimeCodeError, "x", 7); }), Caught::Runtime);
    EXPECT_EQ(Classify([] { TS_THROW_CODE(ParserException, "x", -1); }), Caught::Foundation);
    EXPECT_EQ(Classify([] { TS_THROW(TSBadAlloc, "x"); }), Caught::BadAlloc);

    // The invalid-argument error is not a runtime error.
    bool runtime = false;
    try {
        TS_THROW(TSInvalidArgument, "bad");
    } catch (const TSRuntimeError&) {
        runtime = true;
    } catch (const std::exception&) {
    }
    EXPECT_FALSE(runtime);
}

TEST(TSException, WhatIsExactlyTheMessageAndFileAndLineTravelBeside) {
    try {
        TS_THROW(TSRuntimeError, std::string("Missing/empty attribute '") + "ssid" + "'");
    } catch (const TSException& e) {
        EXPECT_STREQ(e.what(), "Missing/empty attribute 'ssid'");
        EXPECT_NE(e.File().find("TSExceptionTest.cpp"), std::string::npos);
        EXPECT_GT(e.Line(), 0);
    }
    TSLogicError empty("", "f", 1);
    ASSERT_NE(empty.what(), nullptr);
    EXPECT_STREQ(empty.what(), "");
}

TEST(TSException, CodeSurvivesCatchByBaseAndCopy) {
    try {
        TS_THROW_CODE(TSRuntimeCodeError, "dns", -65537);
    } catch (const TSRuntimeError& e) {
        const auto* coded = dynamic_cast<const TSRuntimeCodeError*>(&e);
        ASSERT_NE(coded, nullptr);
        TSRuntimeCodeError copy(*coded);
        EXPECT_EQ(copy.Code(), -65537);
        EXPECT_STREQ(copy.what(), "dns");
    }
}

TEST(TSException, BadAllocShowsTheFoundationMessageThroughEitherBase) {
    try {
        TS_THROW(TSBadAlloc, "Couldn't allocate expanded string buffer");
    } catch (const std::bad_alloc& e) {
        EXPECT_STREQ(e.what(), "Couldn't allocate expanded string buffer");
    }
    // A border that catches the foundation first never lets it terminate.
    int result = CatchAtBorder<int>([]() -> int { TS_THROW(TSBadAlloc, "oom"); },
                                    [](const char* what) { return std::string(what) == "oom" ? -1 : -2; });
    EXPECT_EQ(result, -1);
}
