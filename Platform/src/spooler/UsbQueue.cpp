#include "Platform/UsbQueue.h"

#include "Platform/Machine.h"
#include "Platform/Usb.h"

#include <stdexcept>

namespace Platform {

namespace {

DEVINST PrintingFunctionOf(DEVINST device) {
    const DEVINST function = GetMachine().Devices().PrintingFunction(device);
    if (function == 0 || !GetMachine().Devices().IsPresent(function))
        throw std::invalid_argument("the device has no present printing function");
    return function;
}

}  // namespace

std::u16string UsbPrinterPortName(DEVINST device) {
    const DEVINST function = PrintingFunctionOf(device);
    // Counted the way the print monitor finds the port's interface again.
    HDEVINFO list =
        SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USBPRINT, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list == INVALID_HANDLE_VALUE) throw std::invalid_argument("the printing interfaces cannot be listed");
    unsigned number = 0;
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(list, i, &data); ++i) {
        if (data.DevInst == function) {
            number = i + 1;
            break;
        }
    }
    SetupDiDestroyDeviceInfoList(list);
    if (number == 0 || number > 999) throw std::invalid_argument("the printing interface is not listed");
    std::u16string digits;
    for (unsigned n = number; n > 0; n /= 10) digits.insert(digits.begin(), static_cast<char16_t>(u'0' + n % 10));
    while (digits.size() < 3) digits.insert(digits.begin(), u'0');
    return u"USB" + digits;
}

std::u16string UsbPrinterInstanceId(DEVINST device) {
    auto& devices = GetMachine().Devices();
    for (const DEVINST child : devices.Children(PrintingFunctionOf(device))) {
        const std::u16string id = devices.InstanceId(child);
        if (id.starts_with(u"USBPRINT\\") && devices.IsPresent(child)) return id;
    }
    throw std::invalid_argument("the device has no printer node");
}

std::u16string AddUsbPrinterQueue(std::u16string_view name, std::u16string_view driver, DEVINST device) {
    const std::u16string port = UsbPrinterPortName(device);
    const std::u16string instanceId = UsbPrinterInstanceId(device);
    auto& spooler = GetMachine().Spooler();
    spooler.AddPrinter(name, port, driver);
    spooler.SetPrinterData(name, u"PnPData", u"DeviceInstanceId", RegValue::String(instanceId));
    return port;
}

}  // namespace Platform
