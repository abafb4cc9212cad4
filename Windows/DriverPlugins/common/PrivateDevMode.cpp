#include "PrivateDevMode.h"

#include <algorithm>
#include <cstring>

#include "Common/Headers/RodizuzUzezProperties.h"
#include "Tessary/TSException.h"

DWORD ReadLe32(const BYTE* bytes) {
    return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<DWORD>(bytes[3]) << 24);
}

void WriteLe32(BYTE* bytes, DWORD value) {
    bytes[0] = static_cast<BYTE>(value);
    bytes[1] = static_cast<BYTE>(value >> 8);
    bytes[2] = static_cast<BYTE>(value >> 16);
    bytes[3] = static_cast<BYTE>(value >> 24);
}

PrivateDevMode PrivateDevMode::Read(const BYTE* block) {
    namespace at = PrivateDevModeOffset;
    PrivateDevMode mode;
    mode.size = ReadLe32(block + at::size);
    mode.signature = ReadLe32(block + at::signature);
    mode.version = ReadLe32(block + at::version);
    mode.ccIndex = static_cast<std::int32_t>(ReadLe32(block + at::ccIndex));
    std::memcpy(mode.ccFilter, block + at::ccFilter, sizeof mode.ccFilter);
    mode.ccFilter[sizeof mode.ccFilter - 1] = '\0';
    std::memcpy(mode.ccFilterData, block + at::ccFilterData, sizeof mode.ccFilterData);
    mode.ccFilterData[sizeof mode.ccFilterData - 1] = '\0';
    mode.pin = ReadLe32(block + at::pin);
    return mode;
}

void PrivateDevMode::Write(BYTE* block) const {
    namespace at = PrivateDevModeOffset;
    WriteLe32(block + at::size, size);
    WriteLe32(block + at::signature, signature);
    WriteLe32(block + at::version, version);
    WriteLe32(block + at::ccIndex, static_cast<DWORD>(ccIndex));
    std::memcpy(block + at::ccFilter, ccFilter, sizeof ccFilter);
    std::memcpy(block + at::ccFilterData, ccFilterData, sizeof ccFilterData);
    WriteLe32(block + at::pin, pin);
}

namespace {

HRESULT Fail(DWORD error) {
    SetLastError(error);
    return E_FAIL;
}

// Defaults for the queue: by the document's device name when one is given,
// falling back to the driver's handle (device names hold only 31 characters,
// so longer queue names do not open).
void FillDefaults(const OEM_DMPARAM& param, PrivateDevMode& mode) {
    struct OpenedQueue {
        HANDLE handle = nullptr;
        ~OpenedQueue() {
            if (handle != nullptr) ClosePrinter(handle);
        }
    } opened;
    if (param.pPublicDMIn != nullptr) {
        WCHAR name[CCHDEVICENAME + 1] = {};
        std::copy_n(param.pPublicDMIn->dmDeviceName, CCHDEVICENAME, name);
        PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ACCESS_ADMINISTER};
        if (name[0] == 0 || !OpenPrinterW(name, &opened.handle, &defaults)) opened.handle = nullptr;
    }
    RodizuzUzezProperties owned(opened.handle != nullptr ? opened.handle : param.hPrinter);
    RodizuzUzezProperties* queue = &owned;

    int index = 0;
    queue->GetCCIndex(&index);
    mode.ccIndex = index;
    queue->GetCCFilter(mode.ccFilter, sizeof mode.ccFilter);
    try {
        queue->GetCCFilterData(mode.ccFilterData, sizeof mode.ccFilterData);
    } catch (const Tessary::TSException&) {
        std::memset(mode.ccFilterData, 0, sizeof mode.ccFilterData);
    } catch (const std::exception&) {
        std::memset(mode.ccFilterData, 0, sizeof mode.ccFilterData);
    }
    mode.pin = 0;
    int sticky = 0;
    queue->GetPinSticky(&sticky);
    if (sticky == 1) {
        unsigned pin = 0;
        queue->GetPinValue(&pin);
        mode.pin = pin;
    }
}

// Convert and merge: an input that chose nothing (index 0, no filter data)
// leaves the output's settings; otherwise its bytes are copied, never more
// than either block claims, the block size or the caller's buffer.
void ConvertInto(const OEM_DMPARAM& param, bool merge) {
    const auto* in = static_cast<const BYTE*>(param.pOEMDMIn);
    auto* out = static_cast<BYTE*>(param.pOEMDMOut);
    if (in == nullptr || out == nullptr) return;
    const auto inIndex = static_cast<std::int32_t>(ReadLe32(in + PrivateDevModeOffset::ccIndex));
    const bool inHasData = in[PrivateDevModeOffset::ccFilterData] != 0;
    if (inIndex != 0 || inHasData) {
        const DWORD count = std::min({ReadLe32(out + PrivateDevModeOffset::size),
                                      ReadLe32(in + PrivateDevModeOffset::size), kPrivateDevModeSize, param.cbBufSize});
        std::memmove(out, in, count);
    }
    WriteLe32(out + PrivateDevModeOffset::size, kPrivateDevModeSize);
    WriteLe32(out + PrivateDevModeOffset::version, kPrivateDevModeVersion);
    if (merge) WriteLe32(out + PrivateDevModeOffset::signature, kPrivateDevModeSignature);
}

}  // namespace

HRESULT OEMDevMode(DWORD mode, POEM_DMPARAM param) {
    try {
        if (param == nullptr) return Fail(ERROR_INVALID_PARAMETER);
        switch (mode) {
            case OEMDM_SIZE:
                param->cbBufSize = kPrivateDevModeSize;
                return S_OK;
            case OEMDM_DEFAULT: {
                if (param->pOEMDMOut == nullptr) return Fail(ERROR_INVALID_PARAMETER);
                if (param->cbBufSize < kPrivateDevModeSize) return Fail(ERROR_INSUFFICIENT_BUFFER);
                PrivateDevMode block;
                FillDefaults(*param, block);
                block.Write(static_cast<BYTE*>(param->pOEMDMOut));
                param->cbBufSize = kPrivateDevModeSize;
                return S_OK;
            }
            case OEMDM_CONVERT:
            case OEMDM_MERGE:
                if (param->pOEMDMIn != nullptr && param->pOEMDMOut != nullptr && param->cbBufSize < kPrivateDevModeSize)
                    return Fail(ERROR_INSUFFICIENT_BUFFER);
                ConvertInto(*param, mode == OEMDM_MERGE);
                return S_OK;
            default:
                return Fail(ERROR_INVALID_PARAMETER);
        }
    } catch (const Tessary::TSException&) {
        return Fail(ERROR_GEN_FAILURE);
    } catch (const std::exception&) {
        return Fail(ERROR_GEN_FAILURE);
    } catch (...) {
        return Fail(ERROR_GEN_FAILURE);
    }
}
