#include "Windows/Win32-USBUtils/USBDevice.h"

#include <vector>

namespace USB {

Exception::~Exception() = default;

USBDeviceBase::USBDeviceBase(const GUID& classGuid, DWORD flags) : classGuid_(classGuid), flags_(flags) {
    if (classGuid == GUID{}) throw WindowsException(ERROR_INVALID_PARAMETER, "Invalid class guid.");
    if (flags == 0) throw WindowsException(ERROR_INVALID_PARAMETER, "Invalid flags.");
}

USBDeviceBase::~USBDeviceBase() = default;

USBDevice::USBDevice(const SP_DEVINFO_DATA& data) : USBDeviceBase(data.ClassGuid, DIGCF_PRESENT), data_(data) {}

USBDevice::~USBDevice() = default;

Tessary::I8NString USBDevice::GetParentDeviceId() const {
    ULONG length = 0;
    CONFIGRET result = CM_Get_Device_ID_Size(&length, data_.DevInst, 0);
    if (result != CR_SUCCESS) throw CR_Exception(result, "Unable to get device parent.");
    std::vector<WCHAR> id(static_cast<std::size_t>(length) + 1, 0);
    result = CM_Get_Device_IDW(data_.DevInst, id.data(), length + 1, 0);
    if (result != CR_SUCCESS) throw CR_Exception(result, "Unable to get device parent.");
    return Tessary::I8NString(id.data());
}

}  // namespace USB
