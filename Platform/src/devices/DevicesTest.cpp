#include "Platform/Clock.h"
#include "Platform/Files.h"
#include "Platform/Machine.h"
#include "Platform/SetupApi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

using namespace Platform;

namespace {

// Packed record fields are copied out: the test macros bind references.
template <class T>
T Copy(T value) {
    return value;
}

UsbPrinterIdentity Printer(const std::u16string& serial, bool composite = true) {
    UsbPrinterIdentity id;
    id.vendorId = 0x1A2B;
    id.productId = 0x0101;
    id.manufacturer = u"Velmo";
    id.product = u"Glimmer Dock";
    id.serialNumber = serial;
    id.outPacketSize = 512;
    id.inPacketSize = 64;
    id.composite = composite;
    return id;
}

std::u16string InterfacePathAt(HDEVINFO list, DWORD index, const GUID& cls) {
    SP_DEVICE_INTERFACE_DATA itf{};
    itf.cbSize = sizeof itf;
    if (!SetupDiEnumDeviceInterfaces(list, nullptr, &cls, index, &itf)) return {};
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(list, &itf, nullptr, 0, &size, nullptr);
    std::vector<BYTE> buffer(size);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(list, &itf, detail, size, nullptr, nullptr)) return {};
    return std::u16string(
        reinterpret_cast<const char16_t*>(buffer.data() + offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)));
}

std::u16string Lower(std::u16string text) {
    for (auto& c : text)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    return text;
}

HANDLE Open(const std::u16string& path, DWORD access = GENERIC_READ | GENERIC_WRITE) {
    return CreateFileW(path.c_str(), access, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

class DevicesTest : public ::testing::Test {
protected:
    void SetUp() override {
        handlesBefore_ = OpenHandleCount();
        hc_ = devices().AddHostController(4);
    }
    void TearDown() override {
        EXPECT_EQ(devices().OpenDeviceInfoListCount(), 0u);
        EXPECT_EQ(devices().OpenDeviceHandleCount(), 0u);
        EXPECT_EQ(OpenHandleCount(), handlesBefore_);
    }
    static DeviceManager& devices() { return GetMachine().Devices(); }

    ScopedFreshMachine machine_;
    HostControllerNodes hc_;
    std::size_t handlesBefore_ = 0;
};

TEST_F(DevicesTest, PrintersAreShapedAsCompositeOrPlainDevicesWithTheirPrinterNodes) {
    const DEVINST composite = devices().AttachDevice(hc_.rootHub, 1, std::make_shared<UsbPrinterModel>(Printer(u"S1")));
    EXPECT_EQ(devices().InstanceId(composite), u"USB\\VID_1A2B&PID_0101\\S1");
    EXPECT_EQ(devices().Parent(composite), hc_.rootHub);
    EXPECT_EQ(devices().Parent(hc_.rootHub), hc_.controller);
    EXPECT_TRUE(devices().DriverKey(composite).starts_with(u"{36fc9e60-c465-11cf-8056-444553540000}\\"));
    // Composite: one function per interface; the printer's carries the
    // printing interface and the printer node below it.
    const auto functions = devices().Children(composite);
    ASSERT_EQ(functions.size(), 2u);
    EXPECT_TRUE(devices().InstanceId(functions[0]).starts_with(u"USB\\VID_1A2B&PID_0101&MI_00\\"));
    EXPECT_EQ(devices().PrintingFunction(composite), functions[0]);
    EXPECT_NE(devices().DriverKey(functions[0]), devices().DriverKey(composite));
    const auto printerNodes = devices().Children(functions[0]);
    ASSERT_EQ(printerNodes.size(), 1u);
    EXPECT_TRUE(devices().InstanceId(printerNodes[0]).starts_with(u"USBPRINT\\Glimmer_Dock\\"));
    EXPECT_TRUE(devices().DriverKey(printerNodes[0]).starts_with(u"{4d36e979-e325-11ce-bfc1-08002be10318}\\"));
    EXPECT_TRUE(devices().InterfacePath(composite, GUID_DEVINTERFACE_USBPRINT).empty());
    EXPECT_TRUE(devices()
                    .InterfacePath(functions[0], GUID_DEVINTERFACE_USBPRINT)
                    .starts_with(u"\\\\?\\usb#vid_1a2b&pid_0101&mi_00#"));

    // A single-interface printer carries the printing interface itself.
    const DEVINST plain =
        devices().AttachDevice(hc_.rootHub, 2, std::make_shared<UsbPrinterModel>(Printer(u"S2", false)));
    EXPECT_EQ(devices().PrintingFunction(plain), plain);
    ASSERT_EQ(devices().Children(plain).size(), 1u);

    // Same serial twice: the second cannot use it in its instance id.
    const DEVINST twin = devices().AttachDevice(hc_.rootHub, 3, std::make_shared<UsbPrinterModel>(Printer(u"S1")));
    EXPECT_NE(devices().InstanceId(twin), devices().InstanceId(composite));

    // Without a driver: no key, no functions.
    const DEVINST bare = devices().AttachDevice(hc_.rootHub, 4, std::make_shared<UsbPrinterModel>(Printer(u"S4")),
                                                UsbAttachOptions{.hasDriver = false});
    EXPECT_TRUE(devices().DriverKey(bare).empty());
    EXPECT_TRUE(devices().Children(bare).empty());
    EXPECT_THROW(devices().AttachDevice(hc_.rootHub, 4, std::make_shared<UsbPrinterModel>(Printer(u"S5"))),
                 std::invalid_argument);
    EXPECT_THROW(devices().AttachDevice(hc_.rootHub, 5, std::make_shared<UsbPrinterModel>(Printer(u"S5"))),
                 std::invalid_argument);
}

TEST_F(DevicesTest, DeviceInfoListsEnumerateAndReportSizesTheWayCallersProbe) {
    devices().AttachUsbPrinter(hc_.rootHub, 2, Printer(u"S1"));
    HDEVINFO list = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USB_HOST_CONTROLLER, nullptr, nullptr,
                                         DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(list, INVALID_HANDLE_VALUE);
    EXPECT_EQ(devices().OpenDeviceInfoListCount(), 1u);

    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device - 1;
    EXPECT_FALSE(SetupDiEnumDeviceInfo(list, 0, &device));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
    device.cbSize = sizeof device;
    ASSERT_TRUE(SetupDiEnumDeviceInfo(list, 0, &device));
    EXPECT_EQ(device.DevInst, hc_.controller);
    EXPECT_FALSE(SetupDiEnumDeviceInfo(list, 1, &device));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);

    SP_DEVICE_INTERFACE_DATA itf{};
    itf.cbSize = sizeof itf;
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(list, &device, &GUID_DEVINTERFACE_USB_HOST_CONTROLLER, 0, &itf));
    EXPECT_EQ(itf.Flags, SPINT_ACTIVE);
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(list, &device, &GUID_DEVINTERFACE_USB_HOST_CONTROLLER, 1, &itf));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(list, &device, &GUID_DEVINTERFACE_USB_HOST_CONTROLLER, 0, &itf));

    // Size query: fails with 122 and reports the size.
    DWORD size = 0;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(list, &itf, nullptr, 0, &size, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    const std::u16string expected = devices().InterfacePath(hc_.controller, GUID_DEVINTERFACE_USB_HOST_CONTROLLER);
    EXPECT_EQ(size, offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + 2 * (expected.size() + 1));
    std::vector<BYTE> buffer(size);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = 6;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(list, &itf, detail, size, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(list, &itf, detail, size - 2, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailW(list, &itf, detail, size, nullptr, nullptr));
    EXPECT_EQ(InterfacePathAt(list, 0, GUID_DEVINTERFACE_USB_HOST_CONTROLLER), expected);
    EXPECT_TRUE(expected.starts_with(u"\\\\?\\pci#ven_8086"));

    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(list));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetupDiEnumDeviceInfo(list, 0, &device));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(DevicesTest, DriverPropertyAndOpeningByInstanceId) {
    devices().AttachUsbPrinter(hc_.rootHub, 1, Printer(u"S1"));
    const DEVINST bare = devices().AttachDevice(hc_.rootHub, 2, std::make_shared<UsbPrinterModel>(Printer(u"S2")),
                                                UsbAttachOptions{.hasDriver = false});
    HDEVINFO list =
        SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USB_DEVICE, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    ASSERT_TRUE(SetupDiOpenDeviceInfoW(list, u"usb\\vid_1a2b&pid_0101\\s1", nullptr, 0, &device));
    DWORD size = 0;
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(list, &device, SPDRP_DRIVER, nullptr, nullptr, 0, &size));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    const std::u16string key = devices().DriverKey(device.DevInst);
    EXPECT_EQ(size, 2 * (key.size() + 1));
    std::vector<char16_t> value(size / 2);
    DWORD type = 0;
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyW(list, &device, SPDRP_DRIVER, &type,
                                                  reinterpret_cast<BYTE*>(value.data()), size, &size));
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(std::u16string(value.data()), key);

    // A device without a driver has no driver property at all.
    ASSERT_TRUE(SetupDiOpenDeviceInfoW(list, devices().InstanceId(bare).c_str(), nullptr, 0, &device));
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(list, &device, SPDRP_DRIVER, nullptr, nullptr, 0, &size));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);

    EXPECT_FALSE(SetupDiOpenDeviceInfoW(list, u"USB\\VID_FFFF&PID_FFFF\\X", nullptr, 0, &device));
    EXPECT_EQ(GetLastError(), ERROR_NO_SUCH_DEVINST);
    device.DevInst = 9999;
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(list, &device, SPDRP_DRIVER, nullptr, nullptr, 0, &size));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    SetupDiDestroyDeviceInfoList(list);
}

TEST_F(DevicesTest, ConfigurationManagerWalksParentsAndCopiesIds) {
    const DEVINST hub = devices().AttachHub(hc_.rootHub, 3, 2);
    const DEVINST device = devices().AttachDevice(hub, 2, std::make_shared<UsbPrinterModel>(Printer(u"S1")));
    std::vector<DEVINST> chain;
    for (DEVINST node = devices().PrintingFunction(device); node != 0;) {
        chain.push_back(node);
        DEVINST parent = 0;
        const CONFIGRET result = CM_Get_Parent(&parent, node, 0);
        if (result != CR_SUCCESS) {
            EXPECT_EQ(result, CR_NO_SUCH_DEVNODE);
            break;
        }
        node = parent;
    }
    ASSERT_EQ(chain.size(), 6u);  // function, device, hub, root hub, controller, root
    EXPECT_EQ(chain[1], device);
    EXPECT_EQ(chain[2], hub);
    EXPECT_EQ(chain[3], hc_.rootHub);
    EXPECT_EQ(devices().InstanceId(chain[5]), u"HTREE\\ROOT\\0");

    ULONG length = 0;
    ASSERT_EQ(CM_Get_Device_ID_Size(&length, device, 0), CR_SUCCESS);
    EXPECT_EQ(length, std::u16string(u"USB\\VID_1A2B&PID_0101\\S1").size());
    std::vector<WCHAR> id(length + 1, u'#');
    EXPECT_EQ(CM_Get_Device_IDW(device, id.data(), length - 1, 0), CR_BUFFER_SMALL);
    ASSERT_EQ(CM_Get_Device_IDW(device, id.data(), length, 0), CR_SUCCESS);
    EXPECT_EQ(id[length], u'#');  // no room for the zero: none written
    ASSERT_EQ(CM_Get_Device_IDW(device, id.data(), length + 1, 0), CR_SUCCESS);
    EXPECT_EQ(std::u16string(id.data()), u"USB\\VID_1A2B&PID_0101\\S1");
    EXPECT_EQ(CM_Get_Device_ID_Size(&length, 4242, 0), CR_INVALID_DEVNODE);
    DEVINST parent = 0;
    EXPECT_EQ(CM_Get_Parent(&parent, 4242, 0), CR_INVALID_DEVNODE);
}

// Reads a name record the hub driver way: bare record first, then ActualLength.
std::u16string AskName(HANDLE file, DWORD code, ULONG port, std::size_t headSize) {
    std::vector<BYTE> record(headSize + 2, 0);
    std::memcpy(record.data(), &port, sizeof port);
    DWORD returned = 0;
    if (!DeviceIoControl(file, code, record.data(), static_cast<DWORD>(record.size()), record.data(),
                         static_cast<DWORD>(record.size()), &returned, nullptr))
        return u"<failed>";
    ULONG actual = 0;
    std::memcpy(&actual, record.data() + headSize - 4, 4);
    record.assign(actual, 0);
    std::memcpy(record.data(), &port, sizeof port);
    if (!DeviceIoControl(file, code, record.data(), actual, record.data(), actual, &returned, nullptr))
        return u"<failed>";
    EXPECT_EQ(returned, actual);
    return std::u16string(reinterpret_cast<const char16_t*>(record.data() + headSize));
}

TEST_F(DevicesTest, HubDriverAnswersTheControlCodes) {
    const DEVINST hub = devices().AttachHub(hc_.rootHub, 2, 3);
    devices().AttachUsbPrinter(hub, 3, Printer(u"S1"));

    HANDLE controller =
        Open(devices().InterfacePath(hc_.controller, GUID_DEVINTERFACE_USB_HOST_CONTROLLER), GENERIC_READ);
    ASSERT_NE(controller, INVALID_HANDLE_VALUE);
    const std::u16string rootName = AskName(controller, IOCTL_USB_GET_ROOT_HUB_NAME, 0, 4);
    EXPECT_TRUE(rootName.starts_with(u"USB#ROOT_HUB30#"));
    CloseHandle(controller);

    HANDLE root = Open(u"\\\\.\\" + rootName, GENERIC_READ);
    ASSERT_NE(root, INVALID_HANDLE_VALUE);
    USB_NODE_INFORMATION node{};
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(root, IOCTL_USB_GET_NODE_INFORMATION, &node, sizeof node, &node, sizeof node, &returned,
                                nullptr));
    EXPECT_EQ(returned, 76u);
    EXPECT_EQ(Copy(node.NodeType), UsbHub);
    EXPECT_EQ(Copy(node.u.HubInformation.HubDescriptor.bNumberOfPorts), 4);

    USB_NODE_CONNECTION_INFORMATION info{};
    info.ConnectionIndex = 1;
    ASSERT_TRUE(DeviceIoControl(root, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION, &info, sizeof info, &info, sizeof info,
                                &returned, nullptr));
    EXPECT_EQ(Copy(info.ConnectionStatus), NoDeviceConnected);
    info.ConnectionIndex = 2;
    ASSERT_TRUE(DeviceIoControl(root, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION, &info, sizeof info, &info, sizeof info,
                                &returned, nullptr));
    EXPECT_EQ(returned, 35u);
    EXPECT_EQ(Copy(info.ConnectionStatus), DeviceConnected);
    EXPECT_TRUE(Copy(info.DeviceIsHub));
    info.ConnectionIndex = 5;
    EXPECT_FALSE(DeviceIoControl(root, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION, &info, sizeof info, &info,
                                 sizeof info, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    const std::u16string hubName = AskName(root, IOCTL_USB_GET_NODE_CONNECTION_NAME, 2, 8);
    EXPECT_EQ(Lower(u"\\\\?\\" + hubName), devices().InterfacePath(hub, GUID_DEVINTERFACE_USB_HUB));
    CloseHandle(root);

    HANDLE downstream = Open(u"\\\\.\\" + hubName, GENERIC_READ);
    ASSERT_NE(downstream, INVALID_HANDLE_VALUE);
    info = {};
    info.ConnectionIndex = 3;
    ASSERT_TRUE(DeviceIoControl(downstream, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION, &info, sizeof info, &info,
                                sizeof info, &returned, nullptr));
    EXPECT_FALSE(Copy(info.DeviceIsHub));
    EXPECT_EQ(Copy(info.DeviceDescriptor.idVendor), 0x1A2B);
    EXPECT_EQ(Copy(info.DeviceDescriptor.iSerialNumber), 3);
    EXPECT_EQ(Copy(info.CurrentConfigurationValue), 1);
    EXPECT_EQ(AskName(downstream, IOCTL_USB_GET_NODE_CONNECTION_NAME, 3, 8), u"");
    EXPECT_EQ(AskName(downstream, IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME, 3, 8),
              devices().DriverKey(devices().Children(hub)[0]));

    // A descriptor request answers at most wLength bytes, after the request head.
    std::vector<BYTE> request(12 + 40, 0);
    const USB_DESCRIPTOR_REQUEST head{3, {0x80, 6, 0x0303, 0, 4}};
    std::memcpy(request.data(), &head, sizeof head);
    ASSERT_TRUE(DeviceIoControl(downstream, IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION, request.data(),
                                static_cast<DWORD>(request.size()), request.data(), static_cast<DWORD>(request.size()),
                                &returned, nullptr));
    EXPECT_EQ(returned, 16u);
    EXPECT_EQ(request[12], 2 + 2 * 2);  // bLength of "S1"
    EXPECT_EQ(request[14], 'S');
    // A string the device does not have is stalled.
    const USB_DESCRIPTOR_REQUEST missing{3, {0x80, 6, 0x0309, 0, 4}};
    std::memcpy(request.data(), &missing, sizeof missing);
    EXPECT_FALSE(DeviceIoControl(downstream, IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION, request.data(),
                                 static_cast<DWORD>(request.size()), request.data(), static_cast<DWORD>(request.size()),
                                 &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);

    // Fault knob: the second connection-information request fails.
    devices().FailIoctl(hub, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION, ERROR_GEN_FAILURE, 1);
    EXPECT_TRUE(DeviceIoControl(downstream, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION, &info, sizeof info, &info,
                                sizeof info, &returned, nullptr));
    EXPECT_FALSE(DeviceIoControl(downstream, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION, &info, sizeof info, &info,
                                 sizeof info, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
    devices().ClearFaults();
    EXPECT_TRUE(DeviceIoControl(downstream, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION, &info, sizeof info, &info,
                                sizeof info, &returned, nullptr));
    CloseHandle(downstream);
}

// A device may answer with empty descriptors: nothing is copied then.
TEST_F(DevicesTest, EmptyDescriptorsAnswerTheRecordAlone) {
    UsbDescriptorSet set;
    set.configurations.emplace_back();
    set.strings[2] = {};
    devices().AttachDevice(hc_.rootHub, 1, std::make_shared<UsbDeviceModel>(std::move(set)));

    HANDLE controller =
        Open(devices().InterfacePath(hc_.controller, GUID_DEVINTERFACE_USB_HOST_CONTROLLER), GENERIC_READ);
    ASSERT_NE(controller, INVALID_HANDLE_VALUE);
    HANDLE root = Open(u"\\\\.\\" + AskName(controller, IOCTL_USB_GET_ROOT_HUB_NAME, 0, 4), GENERIC_READ);
    CloseHandle(controller);
    ASSERT_NE(root, INVALID_HANDLE_VALUE);

    USB_NODE_CONNECTION_INFORMATION info{};
    std::memset(&info, 0xAA, sizeof info);
    info.ConnectionIndex = 1;
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(root, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION, &info, sizeof info, &info, sizeof info,
                                &returned, nullptr));
    EXPECT_EQ(Copy(info.ConnectionStatus), DeviceConnected);
    EXPECT_EQ(Copy(info.DeviceDescriptor.bLength), 0);
    EXPECT_EQ(Copy(info.DeviceDescriptor.idVendor), 0);

    std::vector<BYTE> request(12 + 40, 0xAA);
    for (const WORD value : {WORD{0x0100}, WORD{0x0200}, WORD{0x0302}}) {
        const USB_DESCRIPTOR_REQUEST head{1, {0x80, 6, value, 0, 40}};
        std::memcpy(request.data(), &head, sizeof head);
        ASSERT_TRUE(DeviceIoControl(root, IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION, request.data(),
                                    static_cast<DWORD>(request.size()), request.data(),
                                    static_cast<DWORD>(request.size()), &returned, nullptr))
            << value;
        EXPECT_EQ(returned, 12u) << value;
        EXPECT_EQ(request[12], 0xAA) << value;  // untouched
    }
    CloseHandle(root);
}

TEST_F(DevicesTest, PrintingInterfaceIsAChannelToTheDevice) {
    auto model = devices().AttachUsbPrinter(hc_.rootHub, 1, Printer(u"S1"));
    const DEVINST device = devices().Children(hc_.rootHub)[0];
    const std::u16string path = devices().InterfacePath(devices().PrintingFunction(device), GUID_DEVINTERFACE_USBPRINT);
    ScopedClock clock(std::make_shared<ManualClock>());

    HANDLE file = Open(path);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD count = 0;
    ASSERT_TRUE(WriteFile(file, "hello", 5, &count, nullptr));
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(model->TakeReceived(), (std::vector<BYTE>{'h', 'e', 'l', 'l', 'o'}));

    // One queued transfer per read; a short read leaves the rest for the next.
    model->Deliver({1, 2, 3, 4, 5, 6});
    model->Deliver({7});
    BYTE buffer[64] = {};
    ASSERT_TRUE(ReadFile(file, buffer, 4, &count, nullptr));
    EXPECT_EQ(count, 4u);
    ASSERT_TRUE(ReadFile(file, buffer, 64, &count, nullptr));
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(buffer[0], 5);
    ASSERT_TRUE(ReadFile(file, buffer, 64, &count, nullptr));
    EXPECT_EQ(count, 1u);
    // Nothing to read: the read times out on the machine's clock with 0 bytes.
    const auto before = GetClock().Now();
    ASSERT_TRUE(ReadFile(file, buffer, 64, &count, nullptr));
    EXPECT_EQ(count, 0u);
    EXPECT_GE(GetClock().Now() - before, Milliseconds(1000));

    model->SetDeviceId("MFG:Velmo;MDL:Glimmer;");
    char id[64] = {};
    ASSERT_TRUE(DeviceIoControl(file, IOCTL_USBPRINT_GET_1284_ID, id, sizeof id, id, sizeof id, &count, nullptr));
    EXPECT_EQ(std::string(id, count), "MFG:Velmo;MDL:Glimmer;");
    EXPECT_FALSE(DeviceIoControl(file, IOCTL_USB_GET_NODE_INFORMATION, id, sizeof id, id, sizeof id, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    CloseHandle(file);

    // Read-only opens cannot write; the composite device's own interface is
    // no printer channel.
    HANDLE readOnly = Open(path, GENERIC_READ);
    EXPECT_FALSE(WriteFile(readOnly, "x", 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CloseHandle(readOnly);
    HANDLE usbDevice = Open(devices().InterfacePath(device, GUID_DEVINTERFACE_USB_DEVICE));
    ASSERT_NE(usbDevice, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(WriteFile(usbDevice, "x", 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    CloseHandle(usbDevice);

    // A plain (single-interface) printer is reached through either interface.
    auto plain = devices().AttachUsbPrinter(hc_.rootHub, 2, Printer(u"S2", false));
    HANDLE whole = Open(devices().InterfacePath(devices().Children(hc_.rootHub)[1], GUID_DEVINTERFACE_USB_DEVICE));
    ASSERT_TRUE(WriteFile(whole, "y", 1, &count, nullptr));
    EXPECT_EQ(plain->TakeReceived(), std::vector<BYTE>{'y'});
    CloseHandle(whole);

    EXPECT_EQ(CreateFileW(u"\\\\?\\usb#vid_dead&pid_beef#x#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", GENERIC_READ, 0,
                          nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(DevicesTest, DetachKillsOpenFilesAndReattachKeepsTheNode) {
    auto model = devices().AttachUsbPrinter(hc_.rootHub, 1, Printer(u"S1"));
    const DEVINST device = devices().Children(hc_.rootHub)[0];
    const std::u16string key = devices().DriverKey(device);
    const std::u16string path = devices().InterfacePath(devices().PrintingFunction(device), GUID_DEVINTERFACE_USBPRINT);
    model->SetReadTimeout(Milliseconds(60000));  // real clock: only the detach can end the read

    HANDLE file = Open(path);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD readError = 0;
    std::thread reader([&] {
        BYTE buffer[16];
        DWORD count = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &count, nullptr)) readError = GetLastError();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    devices().Detach(hc_.rootHub, 1);
    reader.join();
    EXPECT_EQ(readError, ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(devices().IsPresent(device));
    DWORD count = 0;
    EXPECT_FALSE(WriteFile(file, "x", 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(Open(path), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    // Plugged in again (another port): the same node and key; the old file stays dead.
    devices().AttachDevice(hc_.rootHub, 3, model);
    EXPECT_TRUE(devices().IsPresent(device));
    EXPECT_EQ(devices().DriverKey(device), key);
    EXPECT_EQ(devices().Parent(device), hc_.rootHub);
    EXPECT_FALSE(WriteFile(file, "x", 1, &count, nullptr));
    HANDLE again = Open(path);
    ASSERT_NE(again, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(WriteFile(again, "x", 1, &count, nullptr));
    CloseHandle(again);

    EXPECT_EQ(devices().OpenDeviceHandleCount(), 1u);
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_FALSE(CloseHandle(file));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(ReadFile(file, &count, 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
