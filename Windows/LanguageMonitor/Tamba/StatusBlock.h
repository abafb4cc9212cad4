// The printer's 12-byte status block and what the monitor makes of it: the
// printer state, the error value and its class, and the reactions one poll
// calls for.
#pragma once

#include "Platform/Win32.h"

#include <cstddef>
#include <optional>

namespace Kemblin {

constexpr std::size_t kStatusBlockSize = 12;
constexpr WORD kNoState = 0xFFFF;  // no block read yet
constexpr WORD kStateIdle = 1;
constexpr WORD kErrorMask = 0xF6BF;
constexpr WORD kHoldBit = 0x10;       // holds the stream whatever the class
constexpr WORD kMediaError = 0x4800;  // recoverable, and dropped by the mask

struct PrinterStatus {
    WORD state = kNoState;
    WORD error = 0;
    bool flag = false;
    bool operator==(const PrinterStatus&) const = default;
};

// Reads a status block. A block of another size throws
// Tessary::TSRuntimeError; a block whose state is not one the printer
// reports (0, 1, 2, 4, 8, 16, 32 in the low six bits) gives nothing.
std::optional<PrinterStatus> ParseStatusBlock(const BYTE* data, std::size_t size);

// The error value of the block's raw 16 bits. 0x4800 is kept as it is: the
// mask would turn it into the fatal 0x4000.
WORD ErrorValue(WORD raw);

bool IsRecoverableError(WORD error);
// The resource string shown on the job for an error value.
UINT ErrorStringId(WORD error);
// The job status flag set with that text.
DWORD ErrorJobStatus(WORD error);

// The plane a page state lets through: plane 0 (page head and first
// colour) in 1, 2, 4, 32; plane 1 in 4, 8; plane 2 in 8, 16.
bool StateAllowsPlane(WORD state, unsigned plane);

// What one poll calls for.
struct PollActions {
    bool recoverableError = false;  // OnRecoverableError(error)
    bool fatalError = false;        // OnFatalError(error)
    bool errorCleared = false;      // OnErrorCleared, then pulse error-cleared
    bool pulseChanged = false;
    WORD error = 0;
    bool operator==(const PollActions&) const = default;
};

// One poll: from the remembered status and the new one, the reactions. The
// caller stores the new status and pulses the polled event afterwards.
PollActions EvaluatePoll(const PrinterStatus& remembered, const PrinterStatus& now);

}  // namespace Kemblin
