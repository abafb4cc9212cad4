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

// SetupAPI's own errors.
constexpr DWORD ERROR_SECTION_NOT_FOUND = 0xE0000101u;
constexpr DWORD ERROR_CLASS_MISMATCH = 0xE0000201u;
constexpr DWORD ERROR_NO_DRIVER_SELECTED = 0xE0000203u;
constexpr DWORD ERROR_INVALID_CLASS = 0xE0000206u;
constexpr DWORD ERROR_DEVINST_ALREADY_EXISTS = 0xE0000207u;
constexpr DWORD ERROR_INVALID_REG_PROPERTY = 0xE0000209u;
constexpr DWORD ERROR_NO_SUCH_DEVINST = 0xE000020Bu;
constexpr DWORD ERROR_NO_COMPAT_DRIVERS = 0xE0000228u;

constexpr DWORD DICD_GENERATE_ID = 0x1;
constexpr DWORD SPDIT_CLASSDRIVER = 0x1;
constexpr DWORD SPDIT_COMPATDRIVER = 0x2;

using DI_FUNCTION = UINT;
constexpr DI_FUNCTION DIF_REMOVE = 0x05;
constexpr DI_FUNCTION DIF_SELECTBESTCOMPATDRV = 0x17;
constexpr DI_FUNCTION DIF_REGISTERDEVICE = 0x19;

constexpr ULONG CM_LOCATE_DEVNODE_NORMAL = 0x0;
constexpr ULONG CM_LOCATE_DEVNODE_PHANTOM = 0x1;

constexpr DWORD LINE_LEN = 256;
constexpr DWORD MAX_PATH = 260;

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

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct SP_DRVINFO_DATA_W {
    DWORD cbSize;
    DWORD DriverType;
    ULONG_PTR Reserved;
    WCHAR Description[LINE_LEN];
    WCHAR MfgName[LINE_LEN];
    WCHAR ProviderName[LINE_LEN];
    FILETIME DriverDate;
    std::uint64_t DriverVersion;
};

// HardwareID is variable: ids as a multi-string, sized by the first call.
struct SP_DRVINFO_DETAIL_DATA_W {
    DWORD cbSize;  // always sizeof(SP_DRVINFO_DETAIL_DATA_W), whatever is allocated
    FILETIME InfDate;
    DWORD CompatIDsOffset;
    DWORD CompatIDsLength;
    ULONG_PTR Reserved;
    WCHAR SectionName[LINE_LEN];
    WCHAR InfFileName[MAX_PATH];
    WCHAR DrvDescription[LINE_LEN];
    WCHAR HardwareID[1];
};

using PSP_DEVINFO_DATA = SP_DEVINFO_DATA*;
using PSP_DRVINFO_DATA_W = SP_DRVINFO_DATA_W*;
using PSP_DRVINFO_DETAIL_DATA_W = SP_DRVINFO_DETAIL_DATA_W*;
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

// Installing devices. A list made here holds nodes created in it; they
// join the device tree when registered (DIF_REGISTERDEVICE) and leave it
// with DIF_REMOVE. Ids generated for a class are ROOT\<CLASS>\nnnn.
HDEVINFO SetupDiCreateDeviceInfoList(const GUID* classGuid, HWND parent);
// Class descriptions are known for the printer, USB and system classes.
BOOL SetupDiGetClassDescriptionW(const GUID* classGuid, PWSTR buffer, DWORD bufferSize, DWORD* requiredSize);
BOOL SetupDiCreateDeviceInfoW(HDEVINFO list, PCWSTR deviceName, const GUID* classGuid, PCWSTR description, HWND parent,
                              DWORD flags, PSP_DEVINFO_DATA device);
// Only SPDRP_HARDWAREID (a multi-string) can be set.
BOOL SetupDiSetDeviceRegistryPropertyW(HDEVINFO list, PSP_DEVINFO_DATA device, DWORD property, const BYTE* buffer,
                                       DWORD bufferSize);
// DIF_SELECTBESTCOMPATDRV selects the first driver of the built list.
BOOL SetupDiCallClassInstaller(DI_FUNCTION function, HDEVINFO list, PSP_DEVINFO_DATA device);
// The driver store's packages serving one of the node's hardware ids.
BOOL SetupDiBuildDriverInfoList(HDEVINFO list, PSP_DEVINFO_DATA device, DWORD driverType);
BOOL SetupDiGetSelectedDriverW(HDEVINFO list, PSP_DEVINFO_DATA device, PSP_DRVINFO_DATA_W driver);
BOOL SetupDiGetDriverInfoDetailW(HDEVINFO list, PSP_DEVINFO_DATA device, PSP_DRVINFO_DATA_W driver,
                                 PSP_DRVINFO_DETAIL_DATA_W detail, DWORD detailSize, DWORD* requiredSize);

// INF files and file queues over the driver store: an INF file is known
// when a package installed from it is in the store, and installing one of
// its sections queues the package's target files.
using HINF = void*;
using HSPFILEQ = void*;
using PSP_FILE_CALLBACK_W = UINT (*)(void* context, UINT notification, UINT_PTR param1, UINT_PTR param2);
constexpr DWORD INF_STYLE_WIN4 = 0x2;
constexpr UINT SP_COPY_NEWER_OR_SAME = 0x4;
constexpr DWORD SPQ_SCAN_USE_CALLBACK = 0x1;
constexpr UINT SPFILENOTIFY_QUEUESCAN = 0x00000403;

// Fails with ERROR_FILE_NOT_FOUND for an INF file the store does not hold.
HINF SetupOpenInfFileW(PCWSTR fileName, PCWSTR infClass, DWORD infStyle, UINT* errorLine);
void SetupCloseInfFile(HINF inf);
HSPFILEQ SetupOpenFileQueue();
BOOL SetupCloseFileQueue(HSPFILEQ queue);
// ERROR_SECTION_NOT_FOUND for a section no package of the file installs.
BOOL SetupInstallFilesFromInfSectionW(HINF inf, HINF layoutInf, HSPFILEQ queue, PCWSTR section, PCWSTR sourceRoot,
                                      UINT copyFlags);
// Only SPQ_SCAN_USE_CALLBACK: the callback gets SPFILENOTIFY_QUEUESCAN with
// each queued target path; a non-zero answer ends the scan, which then
// fails with that answer as its error.
BOOL SetupScanFileQueueW(HSPFILEQ queue, DWORD flags, HWND window, PSP_FILE_CALLBACK_W callback, void* context,
                         DWORD* result);

// A registered node by instance id; a null or empty id is the root.
// Nodes not present are found only with CM_LOCATE_DEVNODE_PHANTOM.
CONFIGRET CM_Locate_DevNodeW(PDEVINST device, PCWSTR instanceId, ULONG flags);

CONFIGRET CM_Get_Parent(PDEVINST parent, DEVINST device, ULONG flags);
// Length in characters, without the terminating zero.
CONFIGRET CM_Get_Device_ID_Size(PULONG length, DEVINST device, ULONG flags);
CONFIGRET CM_Get_Device_IDW(DEVINST device, PWSTR buffer, ULONG bufferLength, ULONG flags);
