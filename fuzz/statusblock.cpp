// Printer status blocks: any bytes are read safely, and a run of blocks
// gives reactions that agree with the error classes.
#include "Windows/LanguageMonitor/Tamba/StatusBlock.h"

#include "Tessary/TSException.h"

#include <cstdint>
#include <cstdlib>

using namespace Kemblin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        ParseStatusBlock(data, size);
        if (size != kStatusBlockSize) std::abort();
    } catch (const Tessary::TSRuntimeError&) {
        if (size == kStatusBlockSize) std::abort();
    }
    PrinterStatus remembered;
    for (std::size_t at = 0; at + kStatusBlockSize <= size; at += kStatusBlockSize) {
        const auto now = ParseStatusBlock(data + at, kStatusBlockSize);
        if (!now) continue;
        if (now->state > 32 || (now->error != kMediaError && (now->error & ~kErrorMask) != 0)) std::abort();
        const PollActions actions = EvaluatePoll(remembered, *now);
        if (actions.recoverableError && actions.fatalError) std::abort();
        if (actions.recoverableError !=
            (now->error != 0 && now->error != remembered.error && IsRecoverableError(now->error))) {
            std::abort();
        }
        if (actions.errorCleared && (now->error != 0 || !IsRecoverableError(remembered.error))) std::abort();
        remembered = *now;
    }
    return 0;
}
