#include "StatusBlock.h"

#include "Platform/Spooler.h"
#include "Tessary/TSException.h"

namespace Kemblin {

std::optional<PrinterStatus> ParseStatusBlock(const BYTE* data, std::size_t size) {
    if (data == nullptr || size != kStatusBlockSize) {
        TS_THROW(Tessary::TSRuntimeError, "Printer status block must be 12 bytes");
    }
    const WORD state = data[0] & 0x3F;
    switch (state) {
        case 0:
        case 1:
        case 2:
        case 4:
        case 8:
        case 16:
        case 32:
            break;
        default:
            return std::nullopt;
    }
    PrinterStatus status;
    status.state = state;
    status.error = ErrorValue(static_cast<WORD>(data[2] | (data[3] << 8)));
    status.flag = (data[4] & 1) != 0;
    return status;
}

WORD ErrorValue(WORD raw) {
    if (raw == kMediaError) return raw;
    return raw & kErrorMask;
}

bool IsRecoverableError(WORD error) {
    switch (error) {
        case 1:
        case 8:
        case 128:
        case 4096:
        case 8192:
        case 0x4400:
        case kMediaError:
            return true;
        default:
            return false;
    }
}

UINT ErrorStringId(WORD error) {
    switch (error) {
        case 0:
            return 19;
        case 1:
            return 1;
        case 2:
        case 32:
        case 512:
            return 2;
        case 4:
            return 3;
        case 8:
            return 4;
        case 128:
            return 27;
        case 4096:
            return 26;
        case 8192:
        case kMediaError:
            return 25;
        case 0x4000:
        case 0x4100:
            return 8;
        case 0x4400:
            return 24;
        case 0x8000:
            return 9;
        default:
            return 5;
    }
}

DWORD ErrorJobStatus(WORD error) {
    return error == 1 ? JOB_STATUS_PAPEROUT : JOB_STATUS_ERROR;
}

bool StateAllowsPlane(WORD state, unsigned plane) {
    switch (plane) {
        case 0:
            return state == 1 || state == 2 || state == 4 || state == 32;
        case 1:
            return state == 4 || state == 8;
        case 2:
            return state == 8 || state == 16;
        default:
            return false;
    }
}

PollActions EvaluatePoll(const PrinterStatus& old, const PrinterStatus& now) {
    const bool sameError = now.error == old.error && old.error != 0;
    const bool newError = now.error != 0 && !sameError;
    const bool errorCleared = now.error == 0 && old.error != 0;
    const bool errorPresent = newError || sameError;

    const bool sameFlag = now.flag == old.flag && old.flag;
    const bool newFlag = now.flag && !sameFlag;
    const bool flagCleared = !now.flag && old.flag;
    const bool flagOnly = !errorPresent && (newFlag || sameFlag);
    const bool newFlagOnly = !errorPresent && newFlag;

    const bool changed = now.state != old.state || old.state == kNoState;
    const bool ready = !errorPresent && !flagOnly && (changed || errorCleared || flagCleared);

    PollActions actions;
    actions.error = now.error;
    // A recoverable error that clears resumes the stream whatever the flag
    // does; waiting for the flag to change could hold the job for ever.
    if (errorCleared && IsRecoverableError(old.error)) actions.errorCleared = true;
    if (newError) {
        if (IsRecoverableError(now.error)) {
            actions.recoverableError = true;
        } else {
            actions.fatalError = true;
        }
    } else if (!newFlagOnly && ready) {
        actions.pulseChanged = true;
    }
    return actions;
}

}  // namespace Kemblin
