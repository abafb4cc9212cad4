#include "Common/NetConfig/API/PrinterDevice.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Common/NetConfig/API/ScriptedUsbPrinter.h"
#include "Platform/Clock.h"
#include "Platform/Machine.h"
#include "Tessary/TSException.h"

namespace {

using TestSupport::Bytes;
using TestSupport::ScriptedRead;
using TestSupport::ScriptedUsbPrinter;

constexpr int kVendor = 0x1A2B;
constexpr int kProduct = 0x0C01;

Bytes Sequence(std::size_t n, BYTE first) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<BYTE>(first + i);
    return b;
}

std::size_t OpenHandles() {
    return Platform::GetMachine().Devices().OpenDeviceHandleCount();
}

std::string Failure(const std::function<void()>& f) {
    try {
        f();
    } catch (const Tessary::TSException& e) {
        return e.what();
    }
    return "(nothing thrown)";
}

Bytes ReadSome(PrinterDevice& device, unsigned wanted) {
    Bytes buffer(wanted + 16, 0xEE);
    unsigned length = wanted;
    device.Read(buffer.data(), length);
    EXPECT_LE(length, wanted);
    for (std::size_t i = wanted; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xEE) << "written past the request";
    buffer.resize(length);
    return buffer;
}

class PrinterDeviceTest : public ::testing::Test {
protected:
    PrinterDeviceTest() { hub = devices().AddHostController(4).rootHub; }

    static Platform::DeviceManager& devices() { return Platform::GetMachine().Devices(); }

    std::shared_ptr<ScriptedUsbPrinter> Attach(unsigned port, const Platform::UsbPrinterIdentity& identity,
                                               DEVINST* node = nullptr) {
        auto model = std::make_shared<ScriptedUsbPrinter>(identity);
        const DEVINST n = devices().AttachDevice(hub, port, model);
        if (node) *node = n;
        return model;
    }

    Platform::ScopedFreshMachine machine;
    DEVINST hub = 0;
};

// ---- Read-ahead ----

struct ReadAheadCase {
    const char* name;
    std::vector<Bytes> transfers;        // what the printer has ready, one per system read
    std::vector<unsigned> wanted;        // successive Read calls
    std::vector<std::size_t> delivered;  // count each call delivers
    std::vector<DWORD> systemReads;      // sizes asked of the system, in order
};

void PrintTo(const ReadAheadCase& c, std::ostream* os) {
    *os << c.name;
}

std::vector<ReadAheadCase> ReadAheadCases() {
    return {
        {"SmallReadKeepsTheRestOfThePacket", {Sequence(40, 0)}, {12, 28}, {12, 28}, {64}},
        {"ZeroWantedReadsNothing", {Sequence(40, 0)}, {0}, {0}, {}},
        {"PacketOrMoreGoesStraightToTheCaller", {Sequence(100, 0)}, {100}, {100}, {100}},
        {"BufferedBytesThenOnePacket", {Sequence(16, 0), Sequence(20, 16)}, {12, 10, 14}, {12, 10, 14}, {64, 64}},
        {"BufferedBytesThenADirectRead", {Sequence(16, 0), Sequence(80, 16)}, {12, 70}, {12, 70}, {64, 66}},
        {"ShortPacket", {Sequence(5, 0)}, {12}, {5}, {64}},
        {"NothingReady", {}, {12, 100}, {0, 0}, {64, 100}},
    };
}

class ReadAheadTest : public PrinterDeviceTest, public ::testing::WithParamInterface<ReadAheadCase> {};

TEST_P(ReadAheadTest, AtMostOneSystemReadPerCall) {
    const ReadAheadCase& c = GetParam();
    auto printer = Attach(1, TestSupport::ScriptedIdentity());
    Bytes ready;
    for (const Bytes& t : c.transfers) {
        printer->AddRead(t);
        ready.insert(ready.end(), t.begin(), t.end());
    }
    PrinterDevice device(kVendor, kProduct, "SN0001");
    ASSERT_EQ(device.InPacketSize(), 64);

    Bytes got;
    for (std::size_t i = 0; i < c.wanted.size(); ++i) {
        const Bytes part = ReadSome(device, c.wanted[i]);
        EXPECT_EQ(part.size(), c.delivered[i]) << "call " << i;
        got.insert(got.end(), part.begin(), part.end());
    }
    // In order, nothing lost or repeated.
    ASSERT_LE(got.size(), ready.size());
    EXPECT_EQ(got, Bytes(ready.begin(), ready.begin() + static_cast<std::ptrdiff_t>(got.size())));
    EXPECT_EQ(printer->ReadSizes(), c.systemReads);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadAheadTest, ::testing::ValuesIn(ReadAheadCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PrinterDeviceTest, MoreDataCountsAsSuccess) {
    auto printer = Attach(1, TestSupport::ScriptedIdentity());
    printer->AddRead(Sequence(10, 0), ERROR_MORE_DATA);
    printer->AddRead(Sequence(70, 10), ERROR_MORE_DATA);
    PrinterDevice device(kVendor, kProduct, "SN0001");
    EXPECT_EQ(ReadSome(device, 12), Sequence(10, 0));
    EXPECT_EQ(ReadSome(device, 70), Sequence(70, 10));
}

// ---- Packet sizes ----

TEST_F(PrinterDeviceTest, MissingInPacketSizeGivesSixtyFourBytes) {
    auto identity = TestSupport::ScriptedIdentity();
    identity.inPacketSize = 0;  // no bulk IN endpoint reported
    DEVINST node = 0;
    auto printer = Attach(1, identity, &node);
    {
        PrinterDevice device(kVendor, kProduct, "SN0001");
        EXPECT_EQ(device.InPacketSize(), 64);
        EXPECT_EQ(device.OutPacketSize(), 64u);
        ReadSome(device, 1);
    }
    for (int size : {0, -3}) {
        PrinterDevice device(TestSupport::DriverKeyOf(node), 16, size);
        EXPECT_EQ(device.InPacketSize(), 64);
        ReadSome(device, 1);
    }
    PrinterDevice large(TestSupport::DriverKeyOf(node), 512, 512);
    ReadSome(large, 12);
    EXPECT_EQ(printer->ReadSizes(), (std::vector<DWORD>{64, 64, 64, 512}));
}

// ---- Failures ----

TEST_F(PrinterDeviceTest, TransferFailures) {
    auto printer = Attach(1, TestSupport::ScriptedIdentity());
    PrinterDevice device(kVendor, kProduct, "SN0001");
    unsigned char buffer[100] = {};
    unsigned length = 0;

    printer->FailWrites(ERROR_GEN_FAILURE);
    EXPECT_EQ(Failure([&] { device.Write("abc", 3); }), "WriteFile failed");
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
    printer->FailWrites(ERROR_SUCCESS);
    printer->ShortWrites(true);
    EXPECT_EQ(Failure([&] { device.Write("abc", 3); }), "All data was not written");
    printer->ShortWrites(false);
    device.Write("abc", 3);

    printer->AddRead({}, ERROR_GEN_FAILURE);
    length = 12;
    EXPECT_EQ(Failure([&] { device.Read(buffer, length); }), "ReadFile (buffered) failed");
    printer->AddRead({}, ERROR_INVALID_FUNCTION);
    length = 100;
    EXPECT_EQ(Failure([&] { device.Read(buffer, length); }), "ReadFile failed");
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);

    // Still usable afterwards.
    printer->AddRead(Sequence(3, 7));
    EXPECT_EQ(ReadSome(device, 12), Sequence(3, 7));
}

TEST_F(PrinterDeviceTest, UnpluggedPrinterFailsAndStillCloses) {
    Attach(1, TestSupport::ScriptedIdentity());
    {
        PrinterDevice device(kVendor, kProduct, "SN0001");
        EXPECT_EQ(OpenHandles(), 1u);
        devices().Detach(hub, 1);
        unsigned char buffer[12];
        unsigned length = sizeof buffer;
        EXPECT_EQ(Failure([&] { device.Read(buffer, length); }), "ReadFile (buffered) failed");
        EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
        EXPECT_EQ(Failure([&] { device.Write("a", 1); }), "WriteFile failed");
    }
    EXPECT_EQ(OpenHandles(), 0u);
}

// A printer that never answers: the read returns empty after the platform's
// bounded wait instead of hanging the caller.
TEST_F(PrinterDeviceTest, SilentPrinterReturnsAfterABoundedWait) {
    auto clock = std::make_shared<Platform::ManualClock>();
    Platform::ScopedClock scope(clock);
    auto printer = devices().AttachUsbPrinter(hub, 1, TestSupport::ScriptedIdentity());
    printer->SetReadTimeout(Platform::Milliseconds(30000));
    PrinterDevice device(kVendor, kProduct, "SN0001");
    const auto start = clock->Now();
    EXPECT_TRUE(ReadSome(device, 12).empty());
    EXPECT_TRUE(ReadSome(device, 200).empty());
    EXPECT_EQ(clock->Now() - start, Platform::Milliseconds(60000));
}

// ---- Opening ----

TEST_F(PrinterDeviceTest, OpenByDriverKeyTriesTheChildFirst) {
    // Composite: only the printing child carries the data channel, so a
    // working channel shows the child was opened.
    DEVINST composite = 0;
    auto first = Attach(1, TestSupport::ScriptedIdentity(u"C1"), &composite);
    // Not composite: no child with a printing interface; the device opens.
    auto identity = TestSupport::ScriptedIdentity(u"S2");
    identity.composite = false;
    DEVINST single = 0;
    auto second = Attach(2, identity, &single);

    {
        PrinterDevice a(TestSupport::DriverKeyOf(composite), 64, 64);
        a.Write("one", 3);
        PrinterDevice b(TestSupport::DriverKeyOf(single), 64, 64);
        b.Write("two", 3);
        EXPECT_EQ(OpenHandles(), 2u);
    }
    EXPECT_EQ(first->Writes(), std::vector<Bytes>{Bytes({'o', 'n', 'e'})});
    EXPECT_EQ(second->Writes(), std::vector<Bytes>{Bytes({'t', 'w', 'o'})});
    EXPECT_EQ(OpenHandles(), 0u);

    EXPECT_EQ(Failure([] { PrinterDevice d("{36fc9e60-c465-11cf-8056-444553540000}\\9999", 64, 64); }),
              "Printer {36fc9e60-c465-11cf-8056-444553540000}\\9999 is unavailable");
    EXPECT_EQ(Failure([] { PrinterDevice d("", 64, 64); }), "Printer  is unavailable");
    EXPECT_EQ(OpenHandles(), 0u);
}

TEST_F(PrinterDeviceTest, OpenByIdentityFallsBackToTheDevice) {
    auto identity = TestSupport::ScriptedIdentity();
    identity.composite = false;
    identity.outPacketSize = 16;
    identity.inPacketSize = 32;
    auto printer = Attach(1, identity);
    PrinterDevice device(kVendor, kProduct, "SN0001");
    // The hub walk's sizes stay although the device itself was opened.
    EXPECT_EQ(device.OutPacketSize(), 16u);
    EXPECT_EQ(device.InPacketSize(), 32);
    device.Write("x", 1);
    ReadSome(device, 1);
    EXPECT_EQ(printer->Writes(), std::vector<Bytes>{Bytes{'x'}});
    EXPECT_EQ(printer->ReadSizes(), std::vector<DWORD>{32});
}

TEST_F(PrinterDeviceTest, OpenBySerialAmongIdenticalPrinters) {
    auto first = Attach(1, TestSupport::ScriptedIdentity(u"AAA111"));
    auto second = Attach(2, TestSupport::ScriptedIdentity(u"BBB222"));

    PrinterDevice(kVendor, kProduct, "BBB222").Write("b", 1);
    PrinterDevice(kVendor, kProduct, "AAA111").Write("a", 1);
    PrinterDevice(kVendor, kProduct, "").Write("any", 3);  // the first the walk finds
    EXPECT_EQ(first->Writes(), (std::vector<Bytes>{Bytes{'a'}, Bytes{'a', 'n', 'y'}}));
    EXPECT_EQ(second->Writes(), std::vector<Bytes>{Bytes{'b'}});

    EXPECT_EQ(Failure([] { PrinterDevice d(kVendor, kProduct, "CCC333"); }), "Printer (serial #CCC333) unavailable");
    EXPECT_EQ(Failure([] { PrinterDevice d(kVendor, kProduct + 1, ""); }), "Printer (serial #) unavailable");
    EXPECT_EQ(OpenHandles(), 0u);
}

// ---- Device id ----

std::string Prefixed(const std::string& id, std::size_t length) {
    return std::string{static_cast<char>(length >> 8), static_cast<char>(length & 0xFF)} + id;
}

struct DeviceIdCase {
    const char* name;
    std::string raw;       // what the printing class returns
    std::string expected;  // what the caller gets
};

void PrintTo(const DeviceIdCase& c, std::ostream* os) {
    *os << c.name;
}

class DeviceIdReadTest : public PrinterDeviceTest, public ::testing::WithParamInterface<DeviceIdCase> {};

TEST_P(DeviceIdReadTest, LengthPrefix) {
    auto printer = Attach(1, TestSupport::ScriptedIdentity());
    printer->SetDeviceId(GetParam().raw);
    PrinterDevice device(kVendor, kProduct, "SN0001");
    std::string id = "stale";
    device.GetDeviceID(id);
    EXPECT_EQ(id, GetParam().expected);
}

const std::string kId = "MFG:Velmo;MDL:Glimmer 300;VER:3.01;";
const std::string kLong = "MFG:Velmo;MDL:Glimmer;DES:" + std::string(300, 'd') + ";";

INSTANTIATE_TEST_SUITE_P(Table, DeviceIdReadTest,
                         ::testing::Values(
                             // The length counts its own two bytes, as the standard has it.
                             DeviceIdCase{"PrefixCountingItself", Prefixed(kId, kId.size() + 2), kId},
                             // Some printers leave the two bytes out of the count.
                             DeviceIdCase{"PrefixCountingTextOnly", Prefixed(kId, kId.size()), kId},
                             DeviceIdCase{"PrefixWithHighByte", Prefixed(kLong, kLong.size() + 2), kLong},
                             DeviceIdCase{"NoPrefix", kId, kId},
                             // A length beyond what came back is no prefix: the bytes are the text.
                             DeviceIdCase{"InconsistentPrefix", "\x01\x30" + kId, "\x01\x30" + kId},
                             DeviceIdCase{"TextEndsAtZero",
                                          Prefixed(kId + std::string(1, '\0') + "MFG:junk", kId.size() + 11), kId},
                             DeviceIdCase{"PrefixOnly", Prefixed("", 2), ""}, DeviceIdCase{"OneByte", "M", "M"},
                             DeviceIdCase{"WholeBuffer", std::string(1024, 'x'), std::string(1024, 'x')}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PrinterDeviceTest, DeviceIdFailures) {
    auto printer = Attach(1, TestSupport::ScriptedIdentity());
    PrinterDevice device(kVendor, kProduct, "SN0001");
    std::string id;
    const std::string failed = "DeviceIoControl failed in PrinterDevice::GetDeviceID";
    // A printer without an id fails the control.
    EXPECT_EQ(Failure([&] { device.GetDeviceID(id); }), failed);
    // An answer beyond the 1024-byte buffer.
    printer->SetDeviceId(std::string(1025, 'x'));
    EXPECT_EQ(Failure([&] { device.GetDeviceID(id); }), failed);
    printer->SetDeviceId(kId);
    device.GetDeviceID(id);
    EXPECT_EQ(id, kId);
    devices().Detach(hub, 1);
    EXPECT_EQ(Failure([&] { device.GetDeviceID(id); }), failed);
}

}  // namespace
