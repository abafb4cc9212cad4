#include "Windows/Win32-USBUtils/USBUtils.h"

#include "Platform/Machine.h"
#include "Tessary/i8n/UTFConversion.h"
#include "Windows/Win32-USBUtils/USBDescriptors.h"
#include "Windows/Win32-USBUtils/USBDevice.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ostream>
#include <thread>

using namespace Platform;

namespace {

// Packed record fields are copied out: the test macros bind references.
template <class T>
T Copy(T value) {
    return value;
}

constexpr WORD kVendor = 0x1A2B;
constexpr WORD kModel = 0x0101;
constexpr WORD kOtherModel = 0x0202;

UsbPrinterIdentity Printer(WORD productId, const std::u16string& serial, WORD out = 512, WORD in = 64) {
    UsbPrinterIdentity id;
    id.vendorId = kVendor;
    id.productId = productId;
    id.manufacturer = u"Velmo";
    id.product = u"Glimmer Dock";
    id.serialNumber = serial;
    id.outPacketSize = out;
    id.inPacketSize = in;
    return id;
}

std::string Utf8(const std::u16string& text) {
    return Tessary::UTF16ToUTF8String(text.data(), static_cast<int>(text.size()));
}

// Device descriptor of a vendor/product with strings 2 (product) and 3
// (serial, when given), plus one configuration built from raw descriptors.
UsbDescriptorSet RawDevice(WORD vendorId, WORD productId, std::vector<std::vector<BYTE>> descriptors,
                           BYTE serialIndex = 3) {
    UsbDescriptorSet set;
    set.device = {18,
                  1,
                  0,
                  2,
                  0,
                  0,
                  0,
                  64,
                  static_cast<BYTE>(vendorId),
                  static_cast<BYTE>(vendorId >> 8),
                  static_cast<BYTE>(productId),
                  static_cast<BYTE>(productId >> 8),
                  0,
                  1,
                  0,
                  2,
                  serialIndex,
                  1};
    std::vector<BYTE> config{9, 2, 0, 0, 1, 1, 0, 0xC0, 50};
    for (const auto& d : descriptors) config.insert(config.end(), d.begin(), d.end());
    config[2] = static_cast<BYTE>(config.size());
    config[3] = static_cast<BYTE>(config.size() >> 8);
    set.configurations.push_back(config);
    set.strings[0] = {4, 3, 0x09, 0x04};
    set.strings[2] = MakeStringDescriptor(u"Raw");
    if (serialIndex != 0) set.strings[serialIndex] = MakeStringDescriptor(u"RAW1");
    return set;
}

std::vector<BYTE> Interface(BYTE number, BYTE alternate, BYTE endpoints, BYTE cls) {
    return {9, 4, number, alternate, endpoints, cls, 1, 2, 0};
}
std::vector<BYTE> Endpoint(BYTE address, BYTE attributes, WORD size) {
    return {7, 5, address, attributes, static_cast<BYTE>(size), static_cast<BYTE>(size >> 8), 0};
}

// Records every device the walk offers and never completes.
class RecordAll : public HubEnumResult {
public:
    void AddResult(HANDLE, ULONG port, const USB_NODE_CONNECTION_INFORMATION& info) override {
        seen.push_back({info.DeviceDescriptor.idVendor, info.DeviceDescriptor.idProduct, port});
        EXPECT_EQ(Copy(info.ConnectionIndex), port);
    }
    bool IsComplete() const override { return false; }
    struct Seen {
        std::uint32_t vendorId, productId;
        ULONG port;
        bool operator==(const Seen&) const = default;
    };
    std::vector<Seen> seen;
};

// Runs body on the first device with that vendor id, with the hub open.
template <class Body>
class OnDevice : public HubEnumResult {
public:
    explicit OnDevice(Body body) : body_(std::move(body)) {}
    void AddResult(HANDLE hub, ULONG port, const USB_NODE_CONNECTION_INFORMATION& info) override {
        body_(hub, port, info);
        done_ = true;
    }
    bool IsComplete() const override { return done_; }

private:
    Body body_;
    bool done_ = false;
};

template <class Body>
void WithDevice(std::uint32_t vendorId, std::uint32_t productId, Body body) {
    DeviceOnHubMatchedVidPid predicate(vendorId, productId);
    OnDevice<Body> collector(std::move(body));
    HubEnumDirector director(&predicate, &collector);
    EnumerateHubs(director);
    ASSERT_TRUE(collector.IsComplete());
}

class UsbWalkTest : public ::testing::Test {
protected:
    // Controller A: 1 mouse, 2 hub H1 [1 driverless device, 3 hub H2 [2 printer P1],
    // 4 printer P2 (same model, other serial)], 3 printer of another model.
    // Controller B: 1 printer of the first model without a serial number.
    void SetUp() override {
        auto& d = devices();
        a_ = d.AddHostController(4);
        b_ = d.AddHostController(2);
        mouse_ = d.AttachDevice(
            a_.rootHub, 1,
            std::make_shared<UsbDeviceModel>(RawDevice(0x046D, 0xC077, {Interface(0, 0, 1, 3), Endpoint(0x81, 3, 8)})));
        h1_ = d.AttachHub(a_.rootHub, 2, 4);
        driverless_ = d.AttachDevice(
            h1_, 1, std::make_shared<UsbDeviceModel>(RawDevice(0x0BDA, 0x0129, {Interface(0, 0, 0, 0xFF)})),
            UsbAttachOptions{.hasDriver = false});
        h2_ = d.AttachHub(h1_, 3, 2);
        p1Model_ = d.AttachUsbPrinter(h2_, 2, Printer(kModel, u"AAA111", 512, 64));
        p1_ = d.Children(h2_)[0];
        p2Model_ = d.AttachUsbPrinter(h1_, 4, Printer(kModel, u"BBB222", 64, 32));
        p2_ = d.Children(h1_).back();
        d.AttachUsbPrinter(a_.rootHub, 3, Printer(kOtherModel, u"CCC333"));
        d.AttachUsbPrinter(b_.rootHub, 1, Printer(kModel, u""));
        noSerial_ = d.Children(b_.rootHub)[0];
    }
    void TearDown() override { ExpectNothingOpen(); }

    static void ExpectNothingOpen() {
        EXPECT_EQ(devices().OpenDeviceHandleCount(), 0u);
        EXPECT_EQ(devices().OpenDeviceInfoListCount(), 0u);
    }
    static DeviceManager& devices() { return GetMachine().Devices(); }
    static std::string Key(DEVINST node) { return Utf8(devices().DriverKey(node)); }
    static std::string Path(DEVINST node, const GUID& cls) { return Utf8(devices().InterfacePath(node, cls)); }

    template <class T>
    static T First(HubDevicePredicate& predicate) {
        HubEnumSingleResult<T> result;
        HubEnumDirector director(&predicate, &result);
        EnumerateHubs(director);
        return result.GetResult();
    }

    ScopedFreshMachine machine_;
    HostControllerNodes a_, b_;
    DEVINST mouse_ = 0, h1_ = 0, h2_ = 0, driverless_ = 0, p1_ = 0, p2_ = 0, noSerial_ = 0;
    std::shared_ptr<UsbPrinterModel> p1Model_, p2Model_;
};

TEST_F(UsbWalkTest, WalkIsDepthFirstInPortOrderAndNeverOffersHubs) {
    DeviceOnHubMatched everything;
    RecordAll all;
    HubEnumDirector director(&everything, &all);
    EnumerateHubs(director);
    using S = RecordAll::Seen;
    EXPECT_EQ(all.seen, (std::vector<S>{{0x046D, 0xC077, 1},
                                        {0x0BDA, 0x0129, 1},
                                        {kVendor, kModel, 2},
                                        {kVendor, kModel, 4},
                                        {kVendor, kOtherModel, 3},
                                        {kVendor, kModel, 1}}));
}

TEST_F(UsbWalkTest, PredicatesPickTheFirstMatchingPrinter) {
    DeviceOnHubMatchedVidPid model(kVendor, kModel);
    EXPECT_EQ(First<DriverKeyNameResult>(model).driverKeyName, Key(p1_));

    DeviceOnHubMatchedVidPidSerialNum second(kVendor, kModel, "BBB222");
    const PrinterInfoResult p2 = First<PrinterInfoResult>(second);
    EXPECT_EQ(p2.driverKeyName, Key(p2_));
    EXPECT_EQ(p2.maxOutPacketSize, 64u);
    EXPECT_EQ(p2.maxInPacketSize, 32u);
    EXPECT_EQ(p2.vendorId, kVendor);
    EXPECT_EQ(p2.productId, kModel);
    EXPECT_EQ(p2.product, "Glimmer Dock");
    EXPECT_EQ(p2.serialNumber, "BBB222");

    // Exact, case-sensitive serial comparison.
    DeviceOnHubMatchedVidPidSerialNum lower(kVendor, kModel, "bbb222");
    EXPECT_TRUE(First<DriverKeyNameResult>(lower).driverKeyName.empty());

    DeviceOnHubMatchedDriverKeyName byKey(Key(p2_));
    EXPECT_EQ(First<PrinterInfoResult>(byKey).serialNumber, "BBB222");
    // Walking by driver key passes the driverless device first without failing.
    DeviceOnHubMatchedDriverKeyName none("{36fc9e60-c465-11cf-8056-444553540000}\\9999");
    const PrinterInfoResult nothing = First<PrinterInfoResult>(none);
    EXPECT_TRUE(nothing.driverKeyName.empty());
    EXPECT_EQ(nothing.maxOutPacketSize, 0u);
    EXPECT_EQ(nothing.vendorId, 0u);
    EXPECT_TRUE(nothing.serialNumber.empty());
    DeviceOnHubMatchedDriverKeyName empty("");
    EXPECT_TRUE(First<DriverKeyNameResult>(empty).driverKeyName.empty());
}

TEST_F(UsbWalkTest, DeviceWithoutSerialStringNeverMatchesSerialPredicate) {
    devices().Detach(a_.rootHub, 2);  // leaves only the other model and the serial-less printer
    DeviceOnHubMatchedVidPidSerialNum emptySerial(kVendor, kModel, "");
    EXPECT_TRUE(First<DriverKeyNameResult>(emptySerial).driverKeyName.empty());
    DeviceOnHubMatchedVidPid byIds(kVendor, kModel);
    const PrinterInfoResult printer = First<PrinterInfoResult>(byIds);
    EXPECT_EQ(printer.driverKeyName, Key(noSerial_));
    EXPECT_TRUE(printer.serialNumber.empty());
}

TEST_F(UsbWalkTest, SingleResultRefusesASecondResultWhenDrivenWithoutTheWalk) {
    WithDevice(kVendor, kOtherModel, [](HANDLE hub, ULONG port, const USB_NODE_CONNECTION_INFORMATION& info) {
        HubEnumSingleResult<DriverKeyNameResult> single;
        single.AddResult(hub, port, info);
        try {
            single.AddResult(hub, port, info);
            ADD_FAILURE() << "no exception";
        } catch (const Tessary::TSLogicError& e) {
            EXPECT_STREQ(e.what(), "Adding more than one result to a single enum result");
        }
    });
}

TEST_F(UsbWalkTest, DriverlessDeviceDoesNotBreakLookups) {
    // The driverless device is in the list of present USB devices, ahead of the printers.
    EXPECT_EQ(FindDevicePathByDriverKeyName(Key(p2_)), Path(p2_, GUID_DEVINTERFACE_USB_DEVICE));
    EXPECT_EQ(FindDevicePathByDriverKeyName("{36fc9e60-c465-11cf-8056-444553540000}\\9999"), "");
    EXPECT_EQ(FindDevicePathByDriverKeyName(""), "");
    // Matched by its ids, it yields a record without a driver key, and no path.
    DeviceOnHubMatchedVidPid byIds(0x0BDA, 0x0129);
    EXPECT_TRUE(First<PrinterInfoResult>(byIds).driverKeyName.empty());
    EXPECT_EQ(FindDevicePathByVidPid(0x0BDA, 0x0129, ""), "");
    EXPECT_EQ(OpenUSBDeviceByVidPid(0x0BDA, 0x0129, ""), INVALID_HANDLE_VALUE);
}

TEST_F(UsbWalkTest, LookupsFindPathsAndOpenChannelsToThePrinter) {
    const std::string printing = Path(devices().PrintingFunction(p1_), GUID_DEVINTERFACE_USBPRINT);
    EXPECT_EQ(FindChildDevicePathByDriverKeyName(Key(p1_)), printing);
    EXPECT_EQ(FindChildDevicePathByDriverKeyName(Key(mouse_)), "");
    EXPECT_EQ(FindDevicePathByVidPid(kVendor, kModel, ""), Path(p1_, GUID_DEVINTERFACE_USB_DEVICE));
    EXPECT_EQ(FindDevicePathByVidPid(kVendor, kModel, "BBB222"), Path(p2_, GUID_DEVINTERFACE_USB_DEVICE));

    std::uint32_t out = 99, in = 99;
    HANDLE printer = OpenUSBPrinter(kVendor, kModel, "BBB222", out, in);
    ASSERT_NE(printer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(out, 64u);
    EXPECT_EQ(in, 32u);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(printer, "cfg", 3, &written, nullptr));
    EXPECT_EQ(p2Model_->TakeReceived(), (std::vector<BYTE>{'c', 'f', 'g'}));
    EXPECT_TRUE(p1Model_->TakeReceived().empty());
    CloseHandle(printer);

    printer = OpenUSBPrinter(kVendor, kModel, "", out, in);  // the first of the model
    ASSERT_NE(printer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(out, 512u);
    EXPECT_EQ(in, 64u);
    CloseHandle(printer);

    out = in = 99;
    EXPECT_EQ(OpenUSBPrinter(kVendor, 0x7777, "", out, in), INVALID_HANDLE_VALUE);
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(in, 0u);

    HANDLE child = OpenUSBChildDeviceByDriverKeyName(Key(p1_));
    ASSERT_NE(child, INVALID_HANDLE_VALUE);
    CloseHandle(child);
    HANDLE whole = OpenUSBDeviceByDriverKeyName(Key(p1_));
    ASSERT_NE(whole, INVALID_HANDLE_VALUE);
    CloseHandle(whole);
    HANDLE byIds = OpenUSBDeviceByVidPid(kVendor, kModel, "AAA111");
    ASSERT_NE(byIds, INVALID_HANDLE_VALUE);
    CloseHandle(byIds);
    EXPECT_EQ(OpenUSBDeviceByDriverKeyName(""), INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenUSBChildDeviceByDriverKeyName(Key(mouse_)), INVALID_HANDLE_VALUE);
}

TEST_F(UsbWalkTest, WalksRunOnSeveralThreadsAtOnce) {
    std::atomic<int> opened{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20; ++i) {
                std::uint32_t out = 0, in = 0;
                HANDLE printer = OpenUSBPrinter(kVendor, kModel, t % 2 ? "AAA111" : "BBB222", out, in);
                if (printer != INVALID_HANDLE_VALUE && out == (t % 2 ? 512u : 64u)) ++opened;
                CloseHandle(printer);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(opened.load(), 80);
}

// ---- Failures of the walk and the lookups, one row each ----

// The nodes of UsbWalkTest's tree that faults are put on.
struct FaultTargets {
    DEVINST controller;  // controller A
    DEVINST h1, h2;
    DEVINST p1Printing;  // the node with P1's printing interface
};

enum class Lookup {
    Walk,         // first PrinterInfoResult of the model: P1, on H2
    OpenPrinter,  // OpenUSBPrinter of the model: P1's printing interface
    DevicePath,   // FindDevicePathByDriverKeyName of P2
    ChildPath,    // FindChildDevicePathByDriverKeyName of P2
};

enum class Outcome { Found, NotFound, RuntimeError, LogicError };

struct FaultCase {
    const char* name;
    void (*arm)(DeviceManager&, const FaultTargets&);
    Lookup lookup;
    Outcome outcome;
    const char* text = "";  // of the exception
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

constexpr DWORD kHugeSize = 0x40000000;

const FaultCase kFaultCases[] = {
    // The walk's device-information list of host controllers.
    {"ControllerListNotMade",
     [](DeviceManager& d, const FaultTargets&) {
         d.FailCall(DeviceCall::SetupDiGetClassDevs, ERROR_NOT_ENOUGH_MEMORY);
     },
     Lookup::Walk, Outcome::RuntimeError, "SetupDiGetClassDevs failed"},
    {"ControllerNotEnumerated",
     [](DeviceManager& d, const FaultTargets&) { d.FailCall(DeviceCall::SetupDiEnumDeviceInfo, ERROR_GEN_FAILURE); },
     Lookup::Walk, Outcome::RuntimeError, "setupDiEnumDeviceInfo failed"},
    {"ControllerInterfaceNotEnumerated",
     [](DeviceManager& d, const FaultTargets&) {
         d.FailCall(DeviceCall::SetupDiEnumDeviceInterfaces, ERROR_GEN_FAILURE);
     },
     Lookup::Walk, Outcome::RuntimeError, "SetupDiEnumDeviceInterfaces failed"},
    {"ControllerPathSizeNotReported",
     [](DeviceManager& d, const FaultTargets&) {
         d.FailCall(DeviceCall::SetupDiGetDeviceInterfaceDetail, ERROR_GEN_FAILURE);
     },
     Lookup::Walk, Outcome::RuntimeError, "SetupDiGetDeviceInterfaceDetail failed"},
    {"ControllerPathNotRead",
     [](DeviceManager& d, const FaultTargets&) {
         d.FailCall(DeviceCall::SetupDiGetDeviceInterfaceDetail, ERROR_GEN_FAILURE, 1);
     },
     Lookup::Walk, Outcome::RuntimeError, "SetupDiGetDeviceInterfaceDetail failed"},
    {"ControllerPathTooLargeToAllocate",
     [](DeviceManager& d, const FaultTargets&) {
         d.MisreportSize(DeviceCall::SetupDiGetDeviceInterfaceDetail, kHugeSize);
     },
     Lookup::Walk, Outcome::RuntimeError, "Allocation failed"},
    // The controller and its root hub name.
    {"ControllerNotOpened", [](DeviceManager& d, const FaultTargets& t) { d.FailOpen(t.controller); }, Lookup::Walk,
     Outcome::RuntimeError, "CreateFile failed"},
    {"RootHubNameSizeNotAnswered",
     [](DeviceManager& d, const FaultTargets& t) { d.FailIoctl(t.controller, IOCTL_USB_GET_ROOT_HUB_NAME); },
     Lookup::Walk, Outcome::RuntimeError, "DeviceIoControl get root hub name size failed"},
    {"RootHubNameNotAnswered",
     [](DeviceManager& d, const FaultTargets& t) {
         d.FailIoctl(t.controller, IOCTL_USB_GET_ROOT_HUB_NAME, ERROR_GEN_FAILURE, 1);
     },
     Lookup::Walk, Outcome::RuntimeError, "DeviceIoControl get root hub name failed"},
    // A hub two levels down, with the controller, root hub and H1 open above it.
    {"HubNotOpened", [](DeviceManager& d, const FaultTargets& t) { d.FailOpen(t.h2); }, Lookup::Walk,
     Outcome::RuntimeError, "CreateFile failed"},
    {"HubNodeInfoNotAnswered",
     [](DeviceManager& d, const FaultTargets& t) { d.FailIoctl(t.h2, IOCTL_USB_GET_NODE_INFORMATION); }, Lookup::Walk,
     Outcome::RuntimeError, "DeviceIoControl get node info failed"},
    {"HubIsACompositeParent", [](DeviceManager& d, const FaultTargets& t) { d.ReportNodeType(t.h2, UsbMIParent); },
     Lookup::Walk, Outcome::LogicError, "Not a USB hub"},
    {"ConnectionInfoNotAnswered",
     [](DeviceManager& d, const FaultTargets& t) { d.FailIoctl(t.h2, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION); },
     Lookup::Walk, Outcome::RuntimeError, "DeviceIoControl get connection info failed"},
    {"ConnectionNameSizeNotAnswered",
     [](DeviceManager& d, const FaultTargets& t) { d.FailIoctl(t.h1, IOCTL_USB_GET_NODE_CONNECTION_NAME); },
     Lookup::Walk, Outcome::RuntimeError, "DeviceIoControl get connection name size failed"},
    {"ConnectionNameNotAnswered",
     [](DeviceManager& d, const FaultTargets& t) {
         d.FailIoctl(t.h1, IOCTL_USB_GET_NODE_CONNECTION_NAME, ERROR_GEN_FAILURE, 1);
     },
     Lookup::Walk, Outcome::RuntimeError, "DeviceIoControl get connection name failed"},
    // Reading the matching device.
    {"DriverKeyNameSizeNotAnswered",
     [](DeviceManager& d, const FaultTargets& t) { d.FailIoctl(t.h2, IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME); },
     Lookup::Walk, Outcome::RuntimeError, "DeviceIoControl get driver key name size failed"},
    {"DriverKeyNameNotAnswered",
     [](DeviceManager& d, const FaultTargets& t) {
         d.FailIoctl(t.h2, IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME, ERROR_GEN_FAILURE, 1);
     },
     Lookup::Walk, Outcome::RuntimeError, "DeviceIoControl get driver key name failed"},
    {"DescriptorSizeNotAnswered",
     [](DeviceManager& d, const FaultTargets& t) { d.FailIoctl(t.h2, IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION); },
     Lookup::Walk, Outcome::RuntimeError, "DeviceIoControl get descriptor size failed"},
    {"DescriptorNotAnswered",
     [](DeviceManager& d, const FaultTargets& t) {
         d.FailIoctl(t.h2, IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION, ERROR_GEN_FAILURE, 1);
     },
     Lookup::Walk, Outcome::RuntimeError, "DeviceIoControl get descriptor failed"},
    // The open functions throw for a failing walk rather than report "not
    // found", and report a printer they cannot open as not found.
    {"OpenWithFailingWalk",
     [](DeviceManager& d, const FaultTargets& t) { d.FailIoctl(t.h2, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION); },
     Lookup::OpenPrinter, Outcome::RuntimeError, "DeviceIoControl get connection info failed"},
    {"OpenOfPrinterRefused", [](DeviceManager& d, const FaultTargets& t) { d.FailOpen(t.p1Printing); },
     Lookup::OpenPrinter, Outcome::NotFound},
    // Finding a device's path by its driver key.
    {"DriverKeySizeNotReported",
     [](DeviceManager& d, const FaultTargets&) {
         d.FailCall(DeviceCall::SetupDiGetDeviceRegistryProperty, ERROR_GEN_FAILURE);
     },
     Lookup::DevicePath, Outcome::RuntimeError, "SetupDiGetDeviceRegistryProperty failed"},
    {"DriverKeyNotRead",
     [](DeviceManager& d, const FaultTargets&) {
         d.FailCall(DeviceCall::SetupDiGetDeviceRegistryProperty, ERROR_GEN_FAILURE, 1);
     },
     Lookup::DevicePath, Outcome::RuntimeError, "SetupDiGetDeviceRegistryProperty failed"},
    {"DriverKeyTooLargeToAllocate",
     [](DeviceManager& d, const FaultTargets&) {
         d.MisreportSize(DeviceCall::SetupDiGetDeviceRegistryProperty, kHugeSize);
     },
     Lookup::DevicePath, Outcome::RuntimeError, "Allocation failed"},
    {"DeviceInterfaceNotEnumerated",
     [](DeviceManager& d, const FaultTargets&) {
         d.FailCall(DeviceCall::SetupDiEnumDeviceInterfaces, ERROR_GEN_FAILURE);
     },
     Lookup::DevicePath, Outcome::RuntimeError, "SetupDiEnumDeviceInterfaces failed"},
    // Finding a printing interface by its parent's driver key.
    {"PrintingListNotMade",
     [](DeviceManager& d, const FaultTargets&) {
         d.FailCall(DeviceCall::SetupDiGetClassDevs, ERROR_NOT_ENOUGH_MEMORY, 1);
     },
     Lookup::ChildPath, Outcome::RuntimeError, "SetupDiGetClassDevs failed"},
    {"ParentOfFirstPrinterUnknown",
     [](DeviceManager& d, const FaultTargets&) { d.FailCall(DeviceCall::CM_Get_Parent, CR_NO_SUCH_DEVNODE, 0, 1); },
     Lookup::ChildPath, Outcome::Found},
    {"ParentOfEveryPrinterUnknown",
     [](DeviceManager& d, const FaultTargets&) { d.FailCall(DeviceCall::CM_Get_Parent, CR_NO_SUCH_DEVNODE); },
     Lookup::ChildPath, Outcome::NotFound},
    {"ParentIdSizeNotReported",
     [](DeviceManager& d, const FaultTargets&) { d.FailCall(DeviceCall::CM_Get_Device_ID_Size, CR_INVALID_DEVNODE); },
     Lookup::ChildPath, Outcome::RuntimeError, "CM_Get_Device_ID_Size failed"},
    {"ParentIdSizeZero",
     [](DeviceManager& d, const FaultTargets&) { d.MisreportSize(DeviceCall::CM_Get_Device_ID_Size, 0); },
     Lookup::ChildPath, Outcome::RuntimeError, "CM_Get_Device_ID_Size failed"},
    {"ParentIdTooLargeToAllocate",
     [](DeviceManager& d, const FaultTargets&) { d.MisreportSize(DeviceCall::CM_Get_Device_ID_Size, kHugeSize); },
     Lookup::ChildPath, Outcome::RuntimeError, "allocation failed"},
    {"ParentIdSizeMaximal",
     [](DeviceManager& d, const FaultTargets&) { d.MisreportSize(DeviceCall::CM_Get_Device_ID_Size, 0xFFFFFFFF); },
     Lookup::ChildPath, Outcome::RuntimeError, "allocation failed"},
    {"ParentIdNotRead",
     [](DeviceManager& d, const FaultTargets&) { d.FailCall(DeviceCall::CM_Get_Device_ID, CR_INVALID_DEVNODE); },
     Lookup::ChildPath, Outcome::RuntimeError, "CM_Get_Device_ID failed"},
    {"ParentNotOpenedInDeviceList",
     [](DeviceManager& d, const FaultTargets&) {
         d.FailCall(DeviceCall::SetupDiOpenDeviceInfo, ERROR_NO_SUCH_DEVINST);
     },
     Lookup::ChildPath, Outcome::RuntimeError, "SetupDiOpenDeviceInfo failed"},
    {"PrintingPathNotRead",
     [](DeviceManager& d, const FaultTargets&) {
         d.FailCall(DeviceCall::SetupDiGetDeviceInterfaceDetail, ERROR_GEN_FAILURE, 1);
     },
     Lookup::ChildPath, Outcome::RuntimeError, "SetupDiGetDeviceInterfaceDetail failed"},
};

class UsbWalkFaultTest : public UsbWalkTest, public ::testing::WithParamInterface<FaultCase> {
protected:
    // The lookup's answer: a driver key, a path, or "open" for a handle.
    std::string Run(Lookup lookup) {
        switch (lookup) {
            case Lookup::Walk: {
                DeviceOnHubMatchedVidPid model(kVendor, kModel);
                return First<PrinterInfoResult>(model).driverKeyName;
            }
            case Lookup::OpenPrinter: {
                std::uint32_t out = 0, in = 0;
                HANDLE printer = OpenUSBPrinter(kVendor, kModel, "", out, in);
                if (printer == INVALID_HANDLE_VALUE) return {};
                CloseHandle(printer);
                return "open";
            }
            case Lookup::DevicePath:
                return FindDevicePathByDriverKeyName(Key(p2_));
            case Lookup::ChildPath:
                return FindChildDevicePathByDriverKeyName(Key(p2_));
        }
        return {};
    }
};

TEST_P(UsbWalkFaultTest, ThrowsItsTextOrSkipsAndLeavesNothingOpen) {
    const FaultCase& c = GetParam();
    const std::string found = Run(c.lookup);  // with no fault armed
    ASSERT_FALSE(found.empty());
    const std::size_t handles = OpenHandleCount();
    c.arm(devices(), {a_.controller, h1_, h2_, devices().PrintingFunction(p1_)});
    try {
        const std::string result = Run(c.lookup);
        if (c.outcome == Outcome::Found)
            EXPECT_EQ(result, found);
        else if (c.outcome == Outcome::NotFound)
            EXPECT_EQ(result, "");
        else
            ADD_FAILURE() << "no exception, answered \"" << result << "\"";
    } catch (const Tessary::TSException& e) {
        EXPECT_STREQ(e.what(), c.text);
        EXPECT_TRUE(e.File().ends_with("USBUtils.cpp")) << e.File();
        if (c.outcome == Outcome::RuntimeError)
            EXPECT_NE(dynamic_cast<const Tessary::TSRuntimeError*>(&e), nullptr);
        else if (c.outcome == Outcome::LogicError)
            EXPECT_NE(dynamic_cast<const Tessary::TSLogicError*>(&e), nullptr);
        else
            ADD_FAILURE() << "unexpected exception";
    }
    ExpectNothingOpen();
    EXPECT_EQ(OpenHandleCount(), handles);
}

INSTANTIATE_TEST_SUITE_P(HubWalk, UsbWalkFaultTest, ::testing::ValuesIn(kFaultCases),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

TEST_F(UsbWalkTest, NullHubHandleIsRefused) {
    EXPECT_THROW(GetDescriptorLength(nullptr, 1, 3, 1), Tessary::TSInvalidArgument);
    EXPECT_THROW(GetDescriptor(nullptr, 1, 3, 1, 4), Tessary::TSInvalidArgument);
    EXPECT_THROW(GetDriverKeyName(nullptr, 1), Tessary::TSInvalidArgument);
}

// Packet sizes and strings of devices with hand-made descriptors, each
// attached alone on a fresh machine.
class UsbDescriptorTest : public ::testing::Test {
protected:
    void SetUp() override { hc_ = GetMachine().Devices().AddHostController(1); }
    void TearDown() override {
        EXPECT_EQ(GetMachine().Devices().OpenDeviceHandleCount(), 0u);
        EXPECT_EQ(GetMachine().Devices().OpenDeviceInfoListCount(), 0u);
    }
    void Attach(UsbDescriptorSet set) {
        GetMachine().Devices().Detach(hc_.rootHub, 1);  // the previous case's device
        GetMachine().Devices().AttachDevice(hc_.rootHub, 1, std::make_shared<UsbDeviceModel>(std::move(set)));
    }
    std::pair<std::uint32_t, std::uint32_t> Sizes(UsbDescriptorSet set) {
        Attach(std::move(set));
        std::pair<std::uint32_t, std::uint32_t> sizes{99, 99};
        WithDevice(0x1111, 0x2222, [&](HANDLE hub, ULONG port, const USB_NODE_CONNECTION_INFORMATION& info) {
            GetPrinterMaxPacketSizes(hub, port, info, sizes.first, sizes.second);
        });
        return sizes;
    }

    ScopedFreshMachine machine_;
    HostControllerNodes hc_;
};

TEST_F(UsbDescriptorTest, PacketSizesOfThePrinterInterface) {
    using P = std::pair<std::uint32_t, std::uint32_t>;
    // OUT and IN.
    EXPECT_EQ(Sizes(RawDevice(0x1111, 0x2222, {Interface(0, 0, 2, 7), Endpoint(0x01, 2, 512), Endpoint(0x82, 2, 64)})),
              P(512, 64));
    // OUT only.
    EXPECT_EQ(Sizes(RawDevice(0x1111, 0x2222, {Interface(0, 0, 1, 7), Endpoint(0x01, 2, 64)})), P(64, 0));
    // No printer interface.
    EXPECT_EQ(Sizes(RawDevice(0x1111, 0x2222, {Interface(0, 0, 2, 8), Endpoint(0x01, 2, 512), Endpoint(0x82, 2, 512)})),
              P(0, 0));
    // The printer interface second, after a vendor interface with its own endpoints.
    EXPECT_EQ(Sizes(RawDevice(0x1111, 0x2222,
                              {Interface(0, 0, 2, 0xFF), Endpoint(0x03, 2, 16), Endpoint(0x84, 2, 16),
                               Interface(1, 0, 2, 7), Endpoint(0x02, 2, 256), Endpoint(0x85, 2, 128)})),
              P(256, 128));
    // Class-specific descriptors between endpoints are stepped over; an
    // isochronous endpoint does not count; the next alternate setting ends
    // the printer interface.
    EXPECT_EQ(Sizes(RawDevice(0x1111, 0x2222,
                              {Interface(0, 0, 3, 7),
                               {5, 0x24, 1, 2, 3},
                               Endpoint(0x81, 1, 1023),
                               Endpoint(0x01, 2, 512),
                               Interface(0, 1, 2, 7),
                               Endpoint(0x82, 2, 64)})),
              P(512, 0));
}

TEST_F(UsbDescriptorTest, ActiveConfigurationIsChosenByItsValue) {
    UsbDescriptorSet set = RawDevice(0x1111, 0x2222, {Interface(0, 0, 1, 7), Endpoint(0x01, 2, 64)});
    std::vector<BYTE> second{9, 2, 25, 0, 1, 2, 0, 0xC0, 50};
    for (const auto& d : {Interface(0, 0, 1, 7), Endpoint(0x01, 2, 512)})
        second.insert(second.end(), d.begin(), d.end());
    second[2] = static_cast<BYTE>(second.size());
    set.configurations.push_back(second);
    set.device[17] = 2;
    set.currentConfiguration = 2;
    EXPECT_EQ(Sizes(set), (std::pair<std::uint32_t, std::uint32_t>(512, 0)));
}

TEST_F(UsbDescriptorTest, MalformedConfigurationsThrowOrAreCutAtTheData) {
    auto expectMalformed = [&](UsbDescriptorSet set) {
        try {
            Sizes(std::move(set));
            ADD_FAILURE() << "no exception";
        } catch (const Tessary::TSRuntimeError& e) {
            EXPECT_STREQ(e.what(), "Malformed configuration descriptor");
        }
    };
    // A zero bLength inside the set.
    expectMalformed(RawDevice(0x1111, 0x2222, {Interface(0, 0, 1, 7), {0, 5, 1, 2, 64, 0, 0}}));
    // A short interface descriptor.
    expectMalformed(RawDevice(0x1111, 0x2222, {{4, 4, 0, 0}, Endpoint(0x01, 2, 64)}));
    // A short endpoint of the printer interface.
    expectMalformed(RawDevice(0x1111, 0x2222, {Interface(0, 0, 1, 7), {4, 5, 0x01, 2}}));
    // A configuration head shorter than its fields.
    UsbDescriptorSet shortHead = RawDevice(0x1111, 0x2222, {});
    shortHead.configurations[0] = {4, 2, 9, 0};
    expectMalformed(shortHead);

    // wTotalLength beyond the data: what arrived is parsed, nothing past it.
    UsbDescriptorSet cut =
        RawDevice(0x1111, 0x2222, {Interface(0, 0, 2, 7), Endpoint(0x01, 2, 512), Endpoint(0x82, 2, 64)});
    cut.configurations[0][2] = 200;
    cut.configurations[0].resize(cut.configurations[0].size() - 3);  // the IN endpoint is cut off
    EXPECT_EQ(Sizes(cut), (std::pair<std::uint32_t, std::uint32_t>(512, 0)));
    // Descriptors beyond wTotalLength are ignored.
    UsbDescriptorSet trailing =
        RawDevice(0x1111, 0x2222, {Interface(0, 0, 2, 7), Endpoint(0x01, 2, 512), Endpoint(0x82, 2, 64)});
    trailing.configurations[0][2] = 9 + 9 + 7;
    EXPECT_EQ(Sizes(trailing), (std::pair<std::uint32_t, std::uint32_t>(512, 0)));
}

TEST_F(UsbDescriptorTest, StringDescriptorsAreReadWithinTheirLengthAndTheData) {
    auto text = [&](std::vector<BYTE> raw) {
        UsbDescriptorSet set = RawDevice(0x1111, 0x2222, {});
        set.strings[3] = std::move(raw);
        Attach(std::move(set));
        std::string result;
        WithDevice(0x1111, 0x2222, [&](HANDLE hub, ULONG port, const USB_NODE_CONNECTION_INFORMATION&) {
            result = GetStringDescriptor(hub, port, 3);
        });
        return result;
    };
    EXPECT_EQ(text(MakeStringDescriptor(u"Dock \u00e9")), "Dock \xc3\xa9");
    EXPECT_EQ(text({2, 3}), "");
    EXPECT_EQ(text({7, 3, 'A', 0, 'B', 0, 'C'}), "AB");             // odd length: the half unit is dropped
    EXPECT_EQ(text({20, 3, 'A', 0, 'B', 0}), "AB");                 // bLength beyond the data
    EXPECT_EQ(text({6, 3, 'A', 0, 'B', 0, 'C', 0, 'D', 0}), "AB");  // data beyond bLength
    for (const std::vector<BYTE>& bad : {std::vector<BYTE>{0, 3, 'A', 0}, std::vector<BYTE>{1, 3},
                                         std::vector<BYTE>{4, 2, 'A', 0}, std::vector<BYTE>{4}}) {
        try {
            text(bad);
            ADD_FAILURE() << "no exception";
        } catch (const Tessary::TSRuntimeError& e) {
            EXPECT_STREQ(e.what(), "Malformed string descriptor");
        }
    }
}

TEST(USBDescriptorsParse, ConfigurationHeadAndWalkStayInsideTheBuffer) {
    const std::uint8_t head[] = {9, 2, 8, 0, 1, 1, 0, 0xC0, 50};  // wTotalLength below bLength
    EXPECT_THROW(USBDescriptors::ConfigurationTotalLength(head, sizeof head), Tessary::TSRuntimeError);
    EXPECT_THROW(USBDescriptors::ConfigurationTotalLength(head, 8), Tessary::TSRuntimeError);
    const std::uint8_t ok[] = {9, 2, 9, 0, 1, 1, 0, 0xC0, 50};
    EXPECT_EQ(USBDescriptors::ConfigurationTotalLength(ok, sizeof ok), 9);
    std::uint32_t out = 1, in = 1;
    USBDescriptors::FindPrinterMaxPacketSizes(ok, sizeof ok, out, in);
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(in, 0u);
    // A descriptor that would end past the data is never read.
    const std::uint8_t cut[] = {9, 2, 40, 0, 1, 1, 0, 0xC0, 50, 9, 4, 0, 0, 1, 7, 1, 2, 0, 7, 5, 0x01};
    USBDescriptors::FindPrinterMaxPacketSizes(cut, sizeof cut, out, in);
    EXPECT_EQ(out, 0u);
}

TEST_F(UsbWalkTest, DeviceNodeWrapperReadsTheNodesOwnInstanceId) {
    try {
        USB::USBDeviceBase zero(GUID{}, DIGCF_PRESENT);
        ADD_FAILURE() << "no exception";
    } catch (const USB::WindowsException& e) {
        EXPECT_EQ(e.Code(), 87u);
        EXPECT_STREQ(e.what(), "Invalid class guid.");
    }
    try {
        USB::USBDeviceBase noFlags(GUID_DEVCLASS_USB, 0);
        ADD_FAILURE() << "no exception";
    } catch (const USB::WindowsException& e) {
        EXPECT_STREQ(e.what(), "Invalid flags.");
    }

    const DEVINST printerNode = devices().Children(devices().PrintingFunction(p1_))[0];
    HDEVINFO list =
        SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USBPRINT, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiOpenDeviceInfoW(list, devices().InstanceId(printerNode).c_str(), nullptr, 0, &data));
    SetupDiDestroyDeviceInfoList(list);
    const USB::USBDevice device(data);
    EXPECT_EQ(device.Flags(), DIGCF_PRESENT);
    EXPECT_TRUE(device.ClassGuid() == GUID_DEVCLASS_PRINTER);
    const USB::USBDevice copy = device;
    EXPECT_EQ(std::u16string(copy.GetParentDeviceId().c_str()), devices().InstanceId(printerNode));

    SP_DEVINFO_DATA stale = data;
    stale.DevInst = 4242;
    try {
        USB::USBDevice(stale).GetParentDeviceId();
        ADD_FAILURE() << "no exception";
    } catch (const USB::CR_Exception& e) {
        EXPECT_EQ(e.Code(), CR_INVALID_DEVNODE);
        EXPECT_STREQ(e.what(), "Unable to get device parent.");
    }
}

}  // namespace
