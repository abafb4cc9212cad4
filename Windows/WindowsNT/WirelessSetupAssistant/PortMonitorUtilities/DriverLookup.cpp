#include "DriverLookup.h"

#include "Platform/SetupApi.h"
#include "Platform/Usb.h"
#include "PortMonitorException.h"

#include <algorithm>
#include <new>
#include <vector>

namespace PortMonitorUtilities {

namespace {

constexpr DWORD kGenFailure = 31;
constexpr DWORD kNoMemory = 8;
// A size answer that never fits must not loop for ever.
constexpr int kMaxGrowths = 8;

// The device list and its temporary node, removed and destroyed on every
// way out so no phantom printer device stays behind.
class TemporaryDevice {
public:
    TemporaryDevice() : list_(SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_PRINTER, nullptr)) {
        if (list_ == INVALID_HANDLE_VALUE) throw PortMonitorException(kGenFailure);
    }
    ~TemporaryDevice() {
        if (registered_) SetupDiCallClassInstaller(DIF_REMOVE, list_, &data_);
        SetupDiDestroyDeviceInfoList(list_);
    }
    TemporaryDevice(const TemporaryDevice&) = delete;
    TemporaryDevice& operator=(const TemporaryDevice&) = delete;

    HDEVINFO List() const { return list_; }
    SP_DEVINFO_DATA* Data() { return &data_; }
    void Registered() { registered_ = true; }

private:
    HDEVINFO list_;
    SP_DEVINFO_DATA data_{sizeof(SP_DEVINFO_DATA), {}, 0, 0};
    bool registered_ = false;
};

std::u16string ClassDescription() {
    std::vector<WCHAR> buffer;  // asked for its size first
    for (int attempt = 0; attempt <= kMaxGrowths; ++attempt) {
        DWORD needed = 0;
        if (SetupDiGetClassDescriptionW(&GUID_DEVCLASS_PRINTER, buffer.data(), static_cast<DWORD>(buffer.size()),
                                        &needed))
            return std::u16string(buffer.data());
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
        buffer.assign(std::max<std::size_t>(needed, buffer.size() + 1), 0);
    }
    throw PortMonitorException(kGenFailure);
}

std::vector<std::byte> DriverDetail(TemporaryDevice& device, SP_DRVINFO_DATA_W& driver) {
    std::vector<std::byte> buffer(sizeof(SP_DRVINFO_DETAIL_DATA_W));
    for (int attempt = 0; attempt <= kMaxGrowths; ++attempt) {
        auto* detail = reinterpret_cast<SP_DRVINFO_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DRVINFO_DETAIL_DATA_W);
        DWORD needed = 0;
        if (SetupDiGetDriverInfoDetailW(device.List(), device.Data(), &driver, detail,
                                        static_cast<DWORD>(buffer.size()), &needed))
            return buffer;
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
        buffer.assign(std::max<std::size_t>(needed, buffer.size() + 1), std::byte{0});
    }
    // No detail means no driver was selected: nothing serves the id.
    throw PortMonitorException(kGenFailure);
}

std::u16string Field(const WCHAR* text, std::size_t units) {
    return std::u16string(text, std::find(text, text + units, u'\0'));
}

}  // namespace

DriverInfo FindDriver(const std::u16string& hardwareId, const std::u16string& modelName) {
    try {
        TemporaryDevice device;
        const std::u16string classDescription = ClassDescription();
        if (!SetupDiCreateDeviceInfoW(device.List(), classDescription.c_str(), &GUID_DEVCLASS_PRINTER,
                                      modelName.c_str(), nullptr, DICD_GENERATE_ID, device.Data()))
            throw PortMonitorException(kGenFailure);

        // These answers are not checked one by one: a missing driver shows
        // in the detail below.
        // The id with one terminating zero, sized in bytes.
        SetupDiSetDeviceRegistryPropertyW(device.List(), device.Data(), SPDRP_HARDWAREID,
                                          reinterpret_cast<const BYTE*>(hardwareId.c_str()),
                                          static_cast<DWORD>((hardwareId.size() + 1) * sizeof(WCHAR)));
        if (SetupDiCallClassInstaller(DIF_REGISTERDEVICE, device.List(), device.Data())) device.Registered();
        SetupDiBuildDriverInfoList(device.List(), device.Data(), SPDIT_COMPATDRIVER);
        SetupDiCallClassInstaller(DIF_SELECTBESTCOMPATDRV, device.List(), device.Data());
        SP_DRVINFO_DATA_W driver{};
        driver.cbSize = sizeof(SP_DRVINFO_DATA_W);
        SetupDiGetSelectedDriverW(device.List(), device.Data(), &driver);

        const auto buffer = DriverDetail(device, driver);
        const auto* detail = reinterpret_cast<const SP_DRVINFO_DETAIL_DATA_W*>(buffer.data());
        DriverInfo info{Field(detail->InfFileName, MAX_PATH), Field(detail->SectionName, LINE_LEN),
                        Field(detail->DrvDescription, LINE_LEN)};
        if (info.infFile.empty() || info.section.empty()) throw PortMonitorException(kGenFailure);
        return info;
    } catch (const std::bad_alloc&) {
        throw PortMonitorException(kNoMemory);
    }
}

}  // namespace PortMonitorUtilities
