// SetupAPI device-information lists and the configuration manager's
// device-node calls, over the simulated machine's device tree.
#pragma once

#include "Platform/Guid.h"
#include "Platform/Registry.h"
#include "Platform/Win32.h"

using HDEVINFO = void*;
using DEVINST = DWORD;
using PDEVINST = DEVINST*;
using CONFIGRET = DWORD;
using PULONG = ULONG*;
using PWSTR = WCHAR*;
using PCWSTR = const WCHAR*;

constexpr DWORD DIGCF_DEFAULT = 0x01;
constexpr DWORD DIGCF_PRESENT = 0x02;
constexpr DWORD DIGCF_ALLCLASSES = 0x04;
constexpr DWORD DIGCF_PROFILE = 0x08;
constexpr DWORD DIGCF_DEVICEINTERFACE = 0x10;

constexpr DWORD SPINT_ACTIVE = 0x1;
constexpr DWORD SPINT_DEFAULT = 0x2;
constexpr DWORD SPINT_REMOVED = 0x4;

constexpr DWORD SPDRP_DEVICEDESC = 0x00;
constexpr DWORD SPDRP_HARDWAREID = 0x01;
constexpr DWORD SPDRP_CLASSGUID = 0x08;
constexpr DWORD SPDRP_DRIVER = 0x09;

// SetupAPI's own error: no device node has the given instance id.
constexpr DWORD ERROR_NO_SUCH_DEVINST = 0xE000020Bu;

constexpr CONFIGRET CR_SUCCESS = 0x00;
constexpr CONFIGRET CR_INVALID_POINTER = 0x03;
constexpr CONFIGRET CR_INVALID_FLAG = 0x04;
constexpr CONFIGRET CR_INVALID_DEVNODE = 0x05;
constexpr CONFIGRET CR_NO_SUCH_DEVNODE = 0x0D;
constexpr CONFIGRET CR_BUFFER_SMALL = 0x1A;

struct SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
};

struct SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    ULONG_PTR Reserved;
};

// DevicePath is variable: the caller allocates the size the first call reports.
struct SP_DEVICE_INTERFACE_DETAIL_DATA_W {
    DWORD cbSize;
    WCHAR DevicePath[1];
};

using PSP_DEVINFO_DATA = SP_DEVINFO_DATA*;
using PSP_DEVICE_INTERFACE_DATA = SP_DEVICE_INTERFACE_DATA*;
using PSP_DEVICE_INTERFACE_DETAIL_DATA_W = SP_DEVICE_INTERFACE_DETAIL_DATA_W*;

// Lists are counted by the machine (Platform::DeviceManager::OpenDeviceInfoListCount).
HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR enumerator, HWND parent, DWORD flags);
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO list);
BOOL SetupDiEnumDeviceInfo(HDEVINFO list, DWORD index, PSP_DEVINFO_DATA data);
BOOL SetupDiEnumDeviceInterfaces(HDEVINFO list, PSP_DEVINFO_DATA device, const GUID* interfaceClass, DWORD index,
                                 PSP_DEVICE_INTERFACE_DATA data);
BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO list, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD detailSize, DWORD* requiredSize,
                                      PSP_DEVINFO_DATA device);
BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO list, PSP_DEVINFO_DATA device, DWORD property, DWORD* valueType,
                                       BYTE* buffer, DWORD bufferSize, DWORD* requiredSize);
BOOL SetupDiOpenDeviceInfoW(HDEVINFO list, PCWSTR instanceId, HWND parent, DWORD openFlags, PSP_DEVINFO_DATA device);

CONFIGRET CM_Get_Parent(PDEVINST parent, DEVINST device, ULONG flags);
// Length in characters, without the terminating zero.
CONFIGRET CM_Get_Device_ID_Size(PULONG length, DEVINST device, ULONG flags);
CONFIGRET CM_Get_Device_IDW(DEVINST device, PWSTR buffer, ULONG bufferLength, ULONG flags);
