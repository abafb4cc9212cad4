// The setup assistant's thin layer over the PTP/IP transport library: it
// loads the library at run time and presents the transport and each opened
// device as tables of entry points answering small negative codes.
#pragma once

#include "Platform/Win32.h"

struct PtpiTransport;
struct PtpiDevice;

struct PtpCommand {
    WORD operationCode;
    DWORD dataOutLength;
    DWORD transactionId;
    DWORD parameterCount;
    DWORD parameters[5];
};

struct PtpResponse {
    WORD responseCode;
    DWORD transactionId;
    DWORD parameterCount;
    DWORD parameters[5];
};

struct PtpEvent {
    WORD eventCode;
    DWORD transactionId;
    DWORD parameterCount;
    DWORD parameters[3];
};

// Codes the entries answer besides the mapped library results.
constexpr int kPtpBadArgument = -1;
constexpr int kPtpNoMemory = -2;
constexpr int kPtpFailed = -3;
constexpr int kPtpNotOffered = -4;
constexpr int kPtpNoEvent = -6;

struct PtpTransportContext {
    PtpiTransport* transport;
    HANDLE event;  // manual reset
};

struct PtpDeviceTable;

// Called for each device found: flags bit 0 set while it is there.
using PtpFoundCallback = void (*)(void* context, LPCWSTR url, DWORD flags, LPCWSTR name);

struct PtpTransportTable {
    PtpTransportContext* context;
    // Enumerate, stop and the third entry are not offered (-4); the
    // enumerate slot stays a pointer so a real discovery can be put in.
    int (*enumerate)(PtpTransportContext* context, PtpFoundCallback callback, void* callbackContext);
    int (*stop)(PtpTransportContext* context);
    int (*third)(PtpTransportContext* context, void* argument);
    int (*openDevice)(PtpTransportContext* context, LPCWSTR url, PtpDeviceTable** device);
    int (*closeDevice)(PtpDeviceTable* device);
};

struct PtpDeviceTable {
    PtpiDevice* device;
    int (*sendCommand)(PtpDeviceTable* device, PtpCommand* command);
    int (*writeData)(PtpDeviceTable* device, const void* data, DWORD* length);
    int (*waitAck)(PtpDeviceTable* device, DWORD* dataLength);
    int (*readData)(PtpDeviceTable* device, void* buffer, DWORD* length);
    int (*getResponse)(PtpDeviceTable* device, PtpResponse* response);
    int (*cancelTransaction)(PtpDeviceTable* device, DWORD transactionId);
    // -1 when either argument is null, -4 otherwise; calls nothing.
    int (*reserved)(void* first, void* second);
    int (*getEvent)(PtpDeviceTable* device, PtpEvent* event);
    int (*cancelGetEvent)(PtpDeviceTable* device);
};

// The library's result as this layer's code.
int PtpResultCode(HRESULT result);

// Loads "Jorvale.dll" and creates its transport. The name and size are
// not used.
int CreatePtpTransport(LPCWSTR name, DWORD size, PtpTransportTable** table);
// As CreatePtpTransport, from another library (tests).
int CreatePtpTransportFrom(LPCSTR library, PtpTransportTable** table);
int DestroyPtpTransport(PtpTransportTable* table);
