#include "Platform/Usb.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace Platform {

UsbDeviceModel::UsbDeviceModel(UsbDescriptorSet descriptors) : descriptors_(std::move(descriptors)) {}
UsbDeviceModel::~UsbDeviceModel() = default;

DWORD UsbDeviceModel::Write(const BYTE*, DWORD, DWORD& written) {
    written = 0;
    return ERROR_INVALID_FUNCTION;
}

DWORD UsbDeviceModel::Read(BYTE*, DWORD, DWORD& read) {
    read = 0;
    return ERROR_INVALID_FUNCTION;
}

DWORD UsbDeviceModel::Control(DWORD, const BYTE*, DWORD, BYTE*, DWORD, DWORD& returned) {
    returned = 0;
    return ERROR_INVALID_FUNCTION;
}

std::vector<BYTE> MakeStringDescriptor(const std::u16string& text) {
    const std::size_t units = std::min<std::size_t>(text.size(), 126);
    std::vector<BYTE> out{static_cast<BYTE>(2 + 2 * units), USB_STRING_DESCRIPTOR_TYPE};
    for (std::size_t i = 0; i < units; ++i) {
        out.push_back(static_cast<BYTE>(text[i]));
        out.push_back(static_cast<BYTE>(text[i] >> 8));
    }
    return out;
}

UsbDescriptorSet MakeUsbPrinterDescriptors(const UsbPrinterIdentity& id) {
    auto lo = [](WORD v) { return static_cast<BYTE>(v); };
    auto hi = [](WORD v) { return static_cast<BYTE>(v >> 8); };
    UsbDescriptorSet set;
    const BYTE iManufacturer = id.manufacturer.empty() ? 0 : 1;
    const BYTE iProduct = id.product.empty() ? 0 : 2;
    const BYTE iSerial = id.serialNumber.empty() ? 0 : 3;
    set.device = {18,
                  USB_DEVICE_DESCRIPTOR_TYPE,
                  0x00,
                  0x02,
                  0,
                  0,
                  0,
                  64,
                  lo(id.vendorId),
                  hi(id.vendorId),
                  lo(id.productId),
                  hi(id.productId),
                  lo(id.bcdDevice),
                  hi(id.bcdDevice),
                  iManufacturer,
                  iProduct,
                  iSerial,
                  1};

    std::vector<BYTE> endpoints;
    BYTE count = 0;
    if (id.outPacketSize != 0) {
        endpoints.insert(endpoints.end(),
                         {7, USB_ENDPOINT_DESCRIPTOR_TYPE, 0x01, 0x02, lo(id.outPacketSize), hi(id.outPacketSize), 0});
        ++count;
    }
    if (id.inPacketSize != 0) {
        endpoints.insert(endpoints.end(),
                         {7, USB_ENDPOINT_DESCRIPTOR_TYPE, 0x82, 0x02, lo(id.inPacketSize), hi(id.inPacketSize), 0});
        ++count;
    }
    // Protocol 2 is bidirectional, 1 unidirectional.
    std::vector<BYTE> config{
        9, USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, static_cast<BYTE>(id.composite ? 2 : 1), 1, 0, 0xC0, 50};
    config.insert(config.end(), {9, USB_INTERFACE_DESCRIPTOR_TYPE, 0, 0, count, USB_DEVICE_CLASS_PRINTER, 1,
                                 static_cast<BYTE>(id.inPacketSize != 0 ? 2 : 1), 0});
    config.insert(config.end(), endpoints.begin(), endpoints.end());
    if (id.composite) config.insert(config.end(), {9, USB_INTERFACE_DESCRIPTOR_TYPE, 1, 0, 0, 0xFF, 0, 0, 0});
    config[2] = lo(static_cast<WORD>(config.size()));
    config[3] = hi(static_cast<WORD>(config.size()));
    set.configurations.push_back(std::move(config));

    set.strings[0] = {4, USB_STRING_DESCRIPTOR_TYPE, 0x09, 0x04};
    if (iManufacturer) set.strings[iManufacturer] = MakeStringDescriptor(id.manufacturer);
    if (iProduct) set.strings[iProduct] = MakeStringDescriptor(id.product);
    if (iSerial) set.strings[iSerial] = MakeStringDescriptor(id.serialNumber);
    set.currentConfiguration = 1;
    return set;
}

UsbPrinterModel::UsbPrinterModel(const UsbPrinterIdentity& identity)
    : UsbDeviceModel(MakeUsbPrinterDescriptors(identity)) {}

UsbPrinterModel::UsbPrinterModel(UsbDescriptorSet descriptors) : UsbDeviceModel(std::move(descriptors)) {}

void UsbPrinterModel::Deliver(std::vector<BYTE> transfer) {
    {
        std::lock_guard lock(mutex_);
        toHost_.push_back(std::move(transfer));
    }
    changed_.notify_all();
}

std::size_t UsbPrinterModel::PendingTransfers() const {
    std::lock_guard lock(mutex_);
    return toHost_.size();
}

void UsbPrinterModel::SetReadTimeout(Milliseconds timeout) {
    std::lock_guard lock(mutex_);
    readTimeout_ = timeout;
}

void UsbPrinterModel::SetDeviceId(std::string raw) {
    std::lock_guard lock(mutex_);
    deviceId_ = std::move(raw);
}

std::vector<BYTE> UsbPrinterModel::TakeReceived() {
    std::lock_guard lock(mutex_);
    return std::exchange(received_, {});
}

bool UsbPrinterModel::IsAttached() const {
    std::lock_guard lock(mutex_);
    return attached_;
}

DWORD UsbPrinterModel::Write(const BYTE* data, DWORD length, DWORD& written) {
    written = 0;
    if (!IsAttached()) return ERROR_DEVICE_NOT_CONNECTED;
    OnHostWrite(data, length);
    written = length;
    return ERROR_SUCCESS;
}

void UsbPrinterModel::OnHostWrite(const BYTE* data, DWORD length) {
    std::lock_guard lock(mutex_);
    received_.insert(received_.end(), data, data + length);
}

DWORD UsbPrinterModel::Read(BYTE* buffer, DWORD length, DWORD& read) {
    read = 0;
    std::unique_lock lock(mutex_);
    if (!attached_) return ERROR_DEVICE_NOT_CONNECTED;
    if (length == 0) return ERROR_SUCCESS;
    auto& clock = GetClock();
    clock.WaitUntil(lock, changed_, clock.Now() + readTimeout_, [&] { return !toHost_.empty() || !attached_; });
    if (!attached_) return ERROR_DEVICE_NOT_CONNECTED;
    if (toHost_.empty()) return ERROR_SUCCESS;
    auto& front = toHost_.front();
    const DWORD n = static_cast<DWORD>(std::min<std::size_t>(length, front.size()));
    std::memcpy(buffer, front.data(), n);
    if (n == front.size())
        toHost_.pop_front();
    else
        front.erase(front.begin(), front.begin() + n);
    read = n;
    return ERROR_SUCCESS;
}

DWORD UsbPrinterModel::Control(DWORD code, const BYTE*, DWORD, BYTE* out, DWORD outLength, DWORD& returned) {
    returned = 0;
    std::lock_guard lock(mutex_);
    if (!attached_) return ERROR_DEVICE_NOT_CONNECTED;
    if (code != IOCTL_USBPRINT_GET_1284_ID || deviceId_.empty()) return ERROR_INVALID_FUNCTION;
    if (out == nullptr || outLength < deviceId_.size()) return ERROR_INSUFFICIENT_BUFFER;
    std::memcpy(out, deviceId_.data(), deviceId_.size());
    returned = static_cast<DWORD>(deviceId_.size());
    return ERROR_SUCCESS;
}

void UsbPrinterModel::OnAttached() {
    std::lock_guard lock(mutex_);
    attached_ = true;
}

void UsbPrinterModel::OnDetached() {
    {
        std::lock_guard lock(mutex_);
        attached_ = false;
    }
    changed_.notify_all();
}

}  // namespace Platform
