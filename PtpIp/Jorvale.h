// The PTP/IP transport library (libJorvale.so): reference-counted transport
// and device objects with operation tables, and the same operations as plain
// exported functions working on one process-wide transport.
#pragma once

#include "Platform/Win32.h"

#include <cstdint>

// Result codes of every operation.
namespace Jorvale {
constexpr HRESULT kOk = 0;
constexpr HRESULT kInvalidArgument = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT kOutOfMemory = static_cast<HRESULT>(0x80070008u);
constexpr HRESULT kFail = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT kConnectionClosed = static_cast<HRESULT>(0x80070037u);
constexpr HRESULT kWrongState = static_cast<HRESULT>(0x80070001u);
constexpr HRESULT kCancelled = static_cast<HRESULT>(0x800703E3u);
constexpr HRESULT kProtocolError = static_cast<HRESULT>(0x8007045Du);
constexpr HRESULT kInitiatorRejected = static_cast<HRESULT>(0x80070005u);
constexpr HRESULT kBusy = static_cast<HRESULT>(0x800700AAu);

// A DNS-SD error e (negative) as a result code.
constexpr HRESULT DnsSdResult(std::int32_t e) {
    return static_cast<HRESULT>(0x80060000u | static_cast<std::uint32_t>(-static_cast<std::int64_t>(e) - 65537));
}
}  // namespace Jorvale

// Blocks exchanged with callers: packed, little-endian, no padding.
#pragma pack(push, 1)
struct PtpCommandBlock {
    WORD operationCode;
    DWORD dataOutLength;   // 0: no data-out phase; 0xFFFFFFFF: length not known in advance
    DWORD transactionId;   // written by PtpSendCmd
    DWORD parameterCount;  // 0 to 5
    DWORD parameters[5];
};
struct PtpResponseBlock {
    WORD responseCode;
    DWORD transactionId;
    DWORD parameterCount;
    DWORD parameters[5];
};
struct PtpEventBlock {
    WORD eventCode;
    DWORD transactionId;
    DWORD parameterCount;
    DWORD parameters[3];
};
#pragma pack(pop)
static_assert(sizeof(PtpCommandBlock) == 34);
static_assert(sizeof(PtpResponseBlock) == 30);
static_assert(sizeof(PtpEventBlock) == 22);

constexpr DWORD kPtpUnknownLength = 0xFFFFFFFFu;
constexpr DWORD kPtpCurrentTransaction = 0xFFFFFFFFu;

// What discovery reports of a device. Text fields are valid only during the
// callback.
struct PtpDeviceInfo {
    DWORD size;         // sizeof(PtpDeviceInfo)
    DWORD present;      // 1 found or changed, 0 gone
    LPCWSTR name;       // service instance name, at most 40 units
    LPCWSTR guid;       // "{" + TXT GUID + "}"
    LPCWSTR kind;       // "PTPIP"
    LPCWSTR vendorId;   // "%08X"
    LPCWSTR productId;  // "%08X"
    DWORD reserved1;
    DWORD reserved2;
    DWORD version;
};

// Enumerate flags: bit 0 asynchronous (the callback stays registered).
constexpr DWORD kPtpEnumAsync = 0x1;

using PtpEnumCallback = void (*)(void* context, LPCWSTR url, const PtpDeviceInfo* info);

struct PtpiTransport;
struct PtpiDevice;

struct PtpiTransportOps {
    ULONG (*AddRef)(PtpiTransport* self);
    ULONG (*Release)(PtpiTransport* self);
    HRESULT (*Enumerate)(PtpiTransport* self, DWORD flags, PtpEnumCallback callback, void* context);
    HRESULT (*OpenDevice)(PtpiTransport* self, LPCWSTR url, DWORD flags, PtpiDevice** device);
    HRESULT (*Refresh)(PtpiTransport* self);
};

struct PtpiTransport {
    const PtpiTransportOps* ops;
};

struct PtpiDeviceOps {
    ULONG (*AddRef)(PtpiDevice* self);
    ULONG (*Release)(PtpiDevice* self);
    HRESULT (*SendCmd)(PtpiDevice* device, PtpCommandBlock* command);
    HRESULT (*WriteData)(PtpiDevice* device, const void* data, DWORD* length);
    HRESULT (*WaitAck)(PtpiDevice* device, DWORD* dataLength);
    HRESULT (*ReadData)(PtpiDevice* device, void* buffer, DWORD* length);
    HRESULT (*GetRsp)(PtpiDevice* device, PtpResponseBlock* response);
    HRESULT (*CancelTransaction)(PtpiDevice* device, DWORD transactionId);
    HRESULT (*GetEvt)(PtpiDevice* device, PtpEventBlock* event);
    HRESULT (*CancelGetEvt)(PtpiDevice* device);
};

struct PtpiDevice {
    const PtpiDeviceOps* ops;
};

using PtpiCreateTransportFn = HRESULT (*)(PtpiTransport** transport);

extern "C" {
HRESULT PtpiCreateTransport(PtpiTransport** transport);

// Plain functions on the process-wide transport, made on demand.
HRESULT PtpCreateEnum(DWORD flags, PtpEnumCallback callback, void* context, HANDLE* enumeration);
HRESULT PtpCloseEnum(HANDLE enumeration);
HRESULT PtpOpenDevice(LPCWSTR url, DWORD flags, PtpiDevice** device);
HRESULT PtpCloseDevice(PtpiDevice* device);

HRESULT PtpSendCmd(PtpiDevice* device, PtpCommandBlock* command);
HRESULT PtpWriteData(PtpiDevice* device, const void* data, DWORD* length);
HRESULT PtpWaitAck(PtpiDevice* device, DWORD* dataLength);
HRESULT PtpReadData(PtpiDevice* device, void* buffer, DWORD* length);
HRESULT PtpGetRsp(PtpiDevice* device, PtpResponseBlock* response);
HRESULT PtpCancelTransaction(PtpiDevice* device, DWORD transactionId);
HRESULT PtpGetEvt(PtpiDevice* device, PtpEventBlock* event);
HRESULT PtpCancelGetEvt(PtpiDevice* device);
}
