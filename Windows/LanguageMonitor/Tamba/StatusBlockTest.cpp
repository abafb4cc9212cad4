#include "StatusBlock.h"

#include "Platform/Spooler.h"
#include "Tessary/TSException.h"

#include <gtest/gtest.h>

#include <array>

namespace Kemblin {
namespace {

std::array<BYTE, 12> Block(BYTE state, WORD error, BYTE flagByte) {
    return {state, 0xAA, static_cast<BYTE>(error & 0xFF), static_cast<BYTE>(error >> 8), flagByte, 1, 2, 3, 4, 5, 6, 7};
}

TEST(StatusBlock, ReadsStateErrorAndFlag) {
    struct Case {
        BYTE state;
        WORD raw;
        BYTE flagByte;
        std::optional<PrinterStatus> expected;
    };
    const Case cases[] = {
        {0x01, 0x0000, 0x00, PrinterStatus{1, 0, false}},
        {0xC4, 0x0001, 0x01, PrinterStatus{4, 1, true}},         // high state bits dropped
        {0x20, 0x0002, 0xFE, PrinterStatus{32, 2, false}},       // only bit 0 is the flag
        {0x10, 0xFFFF, 0x00, PrinterStatus{16, 0xF6BF, false}},  // masked
        {0x08, 0x4100, 0x00, PrinterStatus{8, 0x4000, false}},
        {0x08, 0x4800, 0x00, PrinterStatus{8, 0x4800, false}},  // kept: recoverable
        {0x08, 0x4801, 0x00, PrinterStatus{8, 0x4001, false}},
        {0x00, 0x0000, 0x00, PrinterStatus{0, 0, false}},
        {0x03, 0x0000, 0x00, std::nullopt},
        {0x3F, 0x0001, 0x00, std::nullopt},
        {0x06, 0x0001, 0x00, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto block = Block(c.state, c.raw, c.flagByte);
        EXPECT_EQ(ParseStatusBlock(block.data(), block.size()), c.expected) << int(c.state) << " " << c.raw;
    }
}

TEST(StatusBlock, RejectsBlocksOfAnotherSize) {
    const auto block = Block(1, 0, 0);
    EXPECT_THROW(ParseStatusBlock(block.data(), 11), Tessary::TSRuntimeError);
    EXPECT_THROW(ParseStatusBlock(block.data(), 0), Tessary::TSRuntimeError);
    EXPECT_THROW(ParseStatusBlock(nullptr, 12), Tessary::TSRuntimeError);
}

TEST(StatusBlock, ErrorClassesTextsAndJobFlags) {
    struct Case {
        WORD error;
        bool recoverable;
        UINT string;
    };
    const Case cases[] = {
        {0, false, 19},     {1, true, 1},       {2, false, 2},      {32, false, 2},     {512, false, 2},
        {4, false, 3},      {8, true, 4},       {128, true, 27},    {4096, true, 26},   {8192, true, 25},
        {0x4800, true, 25}, {0x4000, false, 8}, {0x4100, false, 8}, {0x4400, true, 24}, {0x8000, false, 9},
        {0x12, false, 5},   {16, false, 5},     {3, false, 5},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsRecoverableError(c.error), c.recoverable) << c.error;
        EXPECT_EQ(ErrorStringId(c.error), c.string) << c.error;
    }
    EXPECT_EQ(ErrorJobStatus(1), JOB_STATUS_PAPEROUT);
    EXPECT_EQ(ErrorJobStatus(2), JOB_STATUS_ERROR);
    EXPECT_EQ(ErrorJobStatus(0x4800), JOB_STATUS_ERROR);
}

TEST(StatusBlock, PlaneGates) {
    const std::array<WORD, 9> states = {0, 1, 2, 4, 8, 16, 32, 3, kNoState};
    const std::array<std::array<bool, 9>, 4> allowed = {{
        {false, true, true, true, false, false, true, false, false},
        {false, false, false, true, true, false, false, false, false},
        {false, false, false, false, true, true, false, false, false},
        {false, false, false, false, false, false, false, false, false},
    }};
    for (unsigned plane = 0; plane < 4; ++plane) {
        for (std::size_t i = 0; i < states.size(); ++i) {
            EXPECT_EQ(StateAllowsPlane(states[i], plane), allowed[plane][i]) << plane << " " << states[i];
        }
    }
}

TEST(PollTransitions, Table) {
    struct Case {
        const char* name;
        PrinterStatus old;
        PrinterStatus now;
        PollActions expected;
    };
    auto act = [](bool rec, bool fatal, bool cleared, bool changed, WORD error) {
        return PollActions{rec, fatal, cleared, changed, error};
    };
    const Case cases[] = {
        {"first block", {kNoState, 0, false}, {1, 0, false}, act(false, false, false, true, 0)},
        {"same state", {1, 0, false}, {1, 0, false}, act(false, false, false, false, 0)},
        {"state change", {1, 0, false}, {2, 0, false}, act(false, false, false, true, 0)},
        {"new recoverable", {2, 0, false}, {2, 1, false}, act(true, false, false, false, 1)},
        {"recoverable 0x4800", {2, 0, false}, {2, 0x4800, false}, act(true, false, false, false, 0x4800)},
        {"same error", {2, 1, false}, {4, 1, false}, act(false, false, false, false, 1)},
        {"recoverable clears", {2, 1, false}, {1, 0, false}, act(false, false, true, true, 0)},
        {"recoverable clears, same state", {2, 8, false}, {2, 0, false}, act(false, false, true, true, 0)},
        {"new fatal", {2, 0, false}, {2, 2, false}, act(false, true, false, false, 2)},
        {"recoverable turns fatal", {2, 1, false}, {2, 0x4000, false}, act(false, true, false, false, 0x4000)},
        {"fatal clears", {2, 2, false}, {1, 0, false}, act(false, false, false, true, 0)},
        {"new flag only", {1, 0, false}, {2, 0, true}, act(false, false, false, false, 0)},
        {"flag stays", {1, 0, true}, {2, 0, true}, act(false, false, false, false, 0)},
        {"flag clears", {2, 0, true}, {2, 0, false}, act(false, false, false, true, 0)},
        {"recoverable clears, new flag", {2, 1, false}, {2, 0, true}, act(false, false, true, false, 0)},
        // The flag staying set must not keep the stream held.
        {"recoverable clears, flag stays", {2, 1, true}, {2, 0, true}, act(false, false, true, false, 0)},
        {"error with flag", {2, 0, true}, {2, 8, true}, act(true, false, false, false, 8)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EvaluatePoll(c.old, c.now), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace Kemblin
