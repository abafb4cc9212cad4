#include "Common/Headers/XcvPortRecord.h"
#include "Platform/Machine.h"
#include "Platform/Spooler.h"
#include "Platform/WirelessPortMonitor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Platform::PortEntry;

constexpr char16_t kMonitorName[] = u"Velmo wireless printer port";

XcvPortRecord Record(std::u16string device, std::u16string address) {
    XcvPortRecord record;
    record.vendorId = 0x3B7D;
    record.productId = 0x4104;
    record.deviceName = std::move(device);
    record.address = std::move(address);
    return record;
}

std::vector<BYTE> NameBytes(std::u16string_view name) {
    std::vector<BYTE> bytes((name.size() + 1) * 2);
    std::memcpy(bytes.data(), name.data(), name.size() * 2);
    return bytes;
}

class WirelessMonitor : public ::testing::Test {
protected:
    WirelessMonitor() {
        std::u16string name(kMonitorName), environment(u"Windows NT x86"), library(u"orvpm.dll");
        MONITOR_INFO_2W info{name.data(), environment.data(), library.data()};
        EXPECT_TRUE(AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info)));
        PRINTER_DEFAULTSW defaults{nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
        EXPECT_TRUE(OpenPrinterW(u",XcvMonitor Velmo wireless printer port", &xcv_, &defaults));
    }
    ~WirelessMonitor() override { ClosePrinter(xcv_); }

    struct Answer {
        BOOL delivered;
        DWORD status;
        DWORD needed;
        std::u16string text;
    };

    Answer Send(const char16_t* command, std::vector<BYTE> input, DWORD outputSize) {
        std::vector<BYTE> output(outputSize + 2, 0xCC);
        Answer answer{};
        answer.delivered = XcvDataW(xcv_, command, input.data(), static_cast<DWORD>(input.size()),
                                    outputSize ? output.data() : nullptr, outputSize, &answer.needed, &answer.status);
        if (answer.status == ERROR_SUCCESS && outputSize >= 2) {
            answer.text.assign(reinterpret_cast<const char16_t*>(output.data()));
        }
        EXPECT_EQ(output[outputSize], 0xCC) << "wrote past the buffer";
        return answer;
    }

    Answer AddPort(const XcvPortRecord& record, DWORD outputSize = 64) {
        const auto bytes = record.Encode();
        return Send(u"AddPort", std::vector<BYTE>(bytes.begin(), bytes.end()), outputSize);
    }

    Platform::PrintSpooler& Spool() { return Platform::GetMachine().Spooler(); }

    Platform::ScopedFreshMachine machine_;
    HANDLE xcv_ = nullptr;
};

TEST(XcvPortRecordLayout, FieldsAtTheirOffsetsAndMalformedRecordsRefused) {
    const auto bytes = Record(u"{AB}", u"ptp://h:1234").Encode();
    static_assert(sizeof bytes == 520);
    EXPECT_EQ(bytes[128], 0x7D);
    EXPECT_EQ(bytes[129], 0x3B);
    EXPECT_EQ(bytes[132], 0x04);
    EXPECT_EQ(bytes[133], 0x41);
    EXPECT_EQ(bytes[136], '{');
    EXPECT_EQ(bytes[137], 0);
    EXPECT_EQ(bytes[142], '}');
    EXPECT_EQ(bytes[144], 0);  // terminator
    EXPECT_EQ(bytes[264], 'p');
    EXPECT_EQ(bytes[264 + 2 * 11], '4');
    for (std::size_t i = 0; i < 128; ++i) ASSERT_EQ(bytes[i], 0);

    const auto back = XcvPortRecord::Decode(bytes.data(), bytes.size());
    EXPECT_EQ(back.vendorId, 0x3B7Du);
    EXPECT_EQ(back.productId, 0x4104u);
    EXPECT_EQ(back.deviceName, u"{AB}");
    EXPECT_EQ(back.address, u"ptp://h:1234");

    // A text that does not fit with its terminator is refused, never cut.
    EXPECT_NO_THROW(Record(std::u16string(63, u'x'), u"").Encode());
    EXPECT_THROW(Record(std::u16string(64, u'x'), u"").Encode(), std::length_error);
    EXPECT_NO_THROW(Record(u"", std::u16string(127, u'a')).Encode());
    EXPECT_THROW(Record(u"", std::u16string(128, u'a')).Encode(), std::length_error);
    EXPECT_THROW(Record(std::u16string(u"a\0b", 3), u"").Encode(), std::length_error);

    EXPECT_THROW(XcvPortRecord::Decode(bytes.data(), 519), std::invalid_argument);
    auto broken = bytes;
    broken[5] = 1;
    EXPECT_THROW(XcvPortRecord::Decode(broken.data(), broken.size()), std::invalid_argument);
    broken = bytes;
    for (std::size_t i = 136; i < 264; i += 2) broken[i] = 'x';  // no terminator in the name
    EXPECT_THROW(XcvPortRecord::Decode(broken.data(), broken.size()), std::invalid_argument);
    broken = bytes;
    broken[519] = 1;  // a byte after the address's terminator
    EXPECT_THROW(XcvPortRecord::Decode(broken.data(), broken.size()), std::invalid_argument);
}

TEST_F(WirelessMonitor, AddPortKeepsThePrinterAndAnswersTheName) {
    const auto first = AddPort(Record(u"{guid-1}", u"ptp://printer:1234"));
    EXPECT_TRUE(first.delivered);
    EXPECT_EQ(first.status, ERROR_SUCCESS);
    EXPECT_EQ(first.text, u"WLP001:");
    EXPECT_EQ(first.needed, 16u);
    const auto port = Spool().FindPort(u"wlp001:");
    ASSERT_TRUE(port);
    EXPECT_EQ(*port, (PortEntry{u"WLP001:", 0x3B7D, 0x4104, u"{guid-1}", u"ptp://printer:1234"}));

    // The same printer again gets its port again; another gets the next one.
    EXPECT_EQ(AddPort(Record(u"{GUID-1}", u"ptp://printer:1234")).text, u"WLP001:");
    EXPECT_EQ(AddPort(Record(u"{guid-2}", u"ptp://other:1234")).text, u"WLP002:");
    EXPECT_EQ(Spool().Ports().size(), 2u);

    const auto calls = Platform::WirelessPortMonitorCalls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].command, u"AddPort");
    EXPECT_EQ(calls[0].input.size(), 520u);
}

TEST_F(WirelessMonitor, AddPortRefusesMalformedInput) {
    const auto bytes = Record(u"{g}", u"").Encode();
    for (std::size_t size : {0u, 519u, 521u}) {
        std::vector<BYTE> input(bytes.begin(), bytes.end());
        input.resize(size);
        const auto answer = Send(u"AddPort", input, 64);
        EXPECT_TRUE(answer.delivered);
        EXPECT_EQ(answer.status, ERROR_INVALID_PARAMETER) << size;
    }
    std::vector<BYTE> reserved(bytes.begin(), bytes.end());
    reserved[0] = 1;
    EXPECT_EQ(Send(u"AddPort", reserved, 64).status, ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(Spool().Ports().empty());
    EXPECT_EQ(Send(u"NoSuchCommand", {}, 0).status, ERROR_NOT_SUPPORTED);
}

TEST_F(WirelessMonitor, OutputSizeProtocolAndKnobs) {
    const auto record = Record(u"{g}", u"ptp://h:1");
    auto answer = AddPort(record, 0);
    EXPECT_EQ(answer.status, ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(answer.needed, 16u);
    EXPECT_EQ(AddPort(record, 15).status, ERROR_INSUFFICIENT_BUFFER);
    answer = AddPort(record, 16);  // exactly the size asked
    EXPECT_EQ(answer.status, ERROR_SUCCESS);
    EXPECT_EQ(answer.text, u"WLP001:");
    EXPECT_EQ(Spool().Ports().size(), 1u);  // the retries added nothing

    // An odd size asked: a buffer cut down to whole units stays too small.
    Platform::ForceWirelessPortMonitorNeeded(17);
    answer = AddPort(record, 16);
    EXPECT_EQ(answer.status, ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(answer.needed, 17u);
    EXPECT_EQ(AddPort(record, 20).status, ERROR_SUCCESS);
    Platform::ForceWirelessPortMonitorNeeded(std::nullopt);

    Platform::SetWirelessPortMonitorAlwaysShort(true);
    answer = AddPort(record, 4096);
    EXPECT_EQ(answer.status, ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(answer.needed, 16u);
    Platform::SetWirelessPortMonitorAlwaysShort(false);

    Platform::ForceWirelessPortMonitorStatus(ERROR_ACCESS_DENIED);
    answer = AddPort(Record(u"{new}", u""), 64);
    EXPECT_TRUE(answer.delivered);
    EXPECT_EQ(answer.status, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(Spool().FindPort(u"WLP002:"));
}

TEST_F(WirelessMonitor, DefaultPortExistsAndDelete) {
    XcvPortRecord record;
    record.deviceName = u"Temp GUID";
    const auto bytes = record.Encode();
    auto answer = Send(u"AddDefaultPort", std::vector<BYTE>(bytes.begin(), bytes.end()), 20);
    EXPECT_EQ(answer.status, ERROR_SUCCESS);
    EXPECT_EQ(answer.text, u"WLP000:");
    EXPECT_EQ(Send(u"AddDefaultPort", std::vector<BYTE>(bytes.begin(), bytes.end()), 20).text, u"WLP000:");
    EXPECT_EQ(Spool().Ports().size(), 1u);

    answer = Send(u"PortExists", NameBytes(u"wlp000:"), 4);
    ASSERT_EQ(answer.status, ERROR_SUCCESS);
    EXPECT_EQ(Send(u"PortExists", NameBytes(u"WLP000:"), 2).status, ERROR_INSUFFICIENT_BUFFER);
    auto exists = [&](std::u16string_view name) {
        std::vector<BYTE> input = NameBytes(name);
        DWORD value = 7, needed = 0, status = 0;
        EXPECT_TRUE(XcvDataW(xcv_, u"PortExists", input.data(), static_cast<DWORD>(input.size()),
                             reinterpret_cast<LPBYTE>(&value), sizeof value, &needed, &status));
        EXPECT_EQ(status, ERROR_SUCCESS);
        return value;
    };
    EXPECT_EQ(exists(u"WLP000:"), 1u);
    EXPECT_EQ(exists(u"WLP009:"), 0u);
    EXPECT_EQ(Send(u"PortExists", {'W', 0, 'L', 0}, 4).status, ERROR_INVALID_PARAMETER);  // no terminator

    Spool().AddPort(u"LPT1:");
    Spool().AddPrinter(u"Busy", u"WLP000:", u"Driver");
    EXPECT_EQ(Send(u"DeletePort", NameBytes(u"WLP000:"), 0).status, ERROR_BUSY);
    EXPECT_EQ(Send(u"DeletePort", NameBytes(u"LPT1:"), 0).status, ERROR_UNKNOWN_PORT);  // not its own
    EXPECT_EQ(Send(u"DeletePort", NameBytes(u"WLP005:"), 0).status, ERROR_UNKNOWN_PORT);
    Spool().RemovePrinter(u"Busy");
    EXPECT_EQ(Send(u"DeletePort", NameBytes(u"WLP000:"), 0).status, ERROR_SUCCESS);
    EXPECT_FALSE(Spool().FindPort(u"WLP000:"));
    EXPECT_TRUE(Spool().FindPort(u"LPT1:"));
}

TEST_F(WirelessMonitor, TransceiveHandles) {
    EXPECT_EQ(Platform::WirelessPortMonitorOpenHandles(), 1u);
    HANDLE other = nullptr;
    PRINTER_DEFAULTSW use{nullptr, nullptr, PRINTER_ACCESS_USE};
    EXPECT_FALSE(OpenPrinterW(u",XcvMonitor Velmo wireless printer port", &other, &use));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(OpenPrinterW(u",XcvMonitor printer port", &other, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);

    PRINTER_DEFAULTSW admin{nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
    Platform::GetMachine().SetUserIsAdministrator(false);
    EXPECT_FALSE(OpenPrinterW(u",XcvMonitor Velmo wireless printer port", &other, &admin));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    Platform::GetMachine().SetUserIsAdministrator(true);
    ASSERT_TRUE(OpenPrinterW(u",XcvMonitor VELMO WIRELESS PRINTER PORT", &other, &admin));
    EXPECT_EQ(Platform::WirelessPortMonitorOpenHandles(), 2u);

    // A transceive handle is no queue, and a queue takes no commands.
    DWORD needed = 0, status = 0;
    EXPECT_EQ(GetPrinterW(other, 4, nullptr, 0, &needed), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    Spool().AddPrinter(u"Queue", u"LPT1:", u"Driver");
    HANDLE queue = nullptr;
    ASSERT_TRUE(OpenPrinterW(u"Queue", &queue, nullptr));
    EXPECT_FALSE(XcvDataW(queue, u"AddPort", nullptr, 0, nullptr, 0, &needed, &status));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(ClosePrinter(queue));

    EXPECT_TRUE(ClosePrinter(other));
    EXPECT_EQ(Platform::WirelessPortMonitorOpenHandles(), 1u);
}

}  // namespace
