// The plug-ins' private settings block that the driver appends to every
// document's settings, and the DevMode handler both plug-ins export.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Platform/Ddi.h"

constexpr DWORD kPrivateDevModeSize = 340;
constexpr DWORD kPrivateDevModeSignature = 0x4C56;
constexpr DWORD kPrivateDevModeVersion = 1;

// Field offsets of the block (little-endian, no padding).
namespace PrivateDevModeOffset {
constexpr std::size_t size = 0;
constexpr std::size_t signature = 4;
constexpr std::size_t version = 8;
constexpr std::size_t ccIndex = 12;
constexpr std::size_t ccFilter = 16;
constexpr std::size_t ccFilterData = 80;
constexpr std::size_t pin = 336;
}  // namespace PrivateDevModeOffset

struct PrivateDevMode {
    DWORD size = kPrivateDevModeSize;
    DWORD signature = kPrivateDevModeSignature;
    DWORD version = kPrivateDevModeVersion;
    std::int32_t ccIndex = 0;
    char ccFilter[64] = {};
    char ccFilterData[256] = {};
    DWORD pin = 0;

    // Field by field from the block's bytes; text fields are terminated
    // even when the block's are not.
    static PrivateDevMode Read(const BYTE* block);
    void Write(BYTE* block) const;
};
static_assert(sizeof(PrivateDevMode) == kPrivateDevModeSize);

DWORD ReadLe32(const BYTE* bytes);
void WriteLe32(BYTE* bytes, DWORD value);

// Sizes, defaults (from the queue's printer data values), converts and
// merges the block. Never throws.
HRESULT OEMDevMode(DWORD mode, POEM_DMPARAM param);
